<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<title>Pellux</title>
</head>
<body>
<p>%1%</p>
</body>
</html>
