// Costs of reading the server's documents and encoding what we post back. The reader is
// measured beside the XML library's bare parse of the same text, the floor it builds on.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <rapidxml/rapidxml.hpp>
#include <string>
#include <vector>

#include "server/base64.h"
#include "server/form_escape.h"
#include "server/request_body.h"
#include "server/server_response_reader.h"

namespace Pellux {
namespace {

std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 31);
  return bytes;
}

// A realistic instruction: a dialog with a form and 50 remote operations, each with a
// 512-byte payload.
std::string RealisticDocument() {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<pellux version=\"2.0\">\n"
      "  <response method=\"POST\" protocol=\"http\" host=\"upload.pellux.com\" port=\"8001\" "
      "path=\"/device/tracker/uploadData\" secure=\"false\">sessionId=8c1f2e7a&amp;step=4"
      "</response>\n"
      "  <clientDisplay>\n"
      "    <message>Uploading your activity data...</message>\n"
      "    <dialog containsForm=\"true\" minDisplayTime=\"3000\" width=\"480\" height=\"320\">"
      "<![CDATA[<html><body><h1>Sync</h1><form><input name=\"email\"/>"
      "<input type=\"password\" name=\"password\"/></form></body></html>]]></dialog>\n"
      "  </clientDisplay>\n"
      "  <device type=\"tracker\" action=\"command\" pingInterval=\"4000\" sleepPeriod=\"900\">\n"
      "    <remoteOps errorHandler=\"executeTillError\" responder=\"respondNoError\">\n";
  for (int i = 0; i < 50; ++i) {
    text += "      <remoteOp encrypted=\"false\" retries=\"3\"><opCode>" +
            Base64Encode(PatternBytes(7, static_cast<std::uint8_t>(i))) + "</opCode><payloadData>" +
            Base64Encode(PatternBytes(512, static_cast<std::uint8_t>(i + 1))) +
            "</payloadData></remoteOp>\n";
  }
  text += "    </remoteOps>\n  </device>\n</pellux>\n";
  return text;
}

void BM_RapidxmlBareParse(benchmark::State& state) {
  const std::string text = RealisticDocument();
  for (auto _ : state) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    rapidxml::xml_document<char> document;
    document.parse<0>(buffer.data());
    benchmark::DoNotOptimize(document.first_node());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RapidxmlBareParse);

void BM_ParseServerResponse(benchmark::State& state) {
  const std::string text = RealisticDocument();
  for (auto _ : state) {
    ServerResponse response;
    std::vector<std::string> warnings;
    const bool ok = ParseServerResponse(text, response, warnings);
    if (!ok || response.remoteOps.size() != 50 || !warnings.empty()) {
      state.SkipWithError("the realistic document did not read as expected");
      break;
    }
    benchmark::DoNotOptimize(response);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseServerResponse);

void BM_Base64Encode(benchmark::State& state) {
  const auto bytes = PatternBytes(static_cast<std::size_t>(state.range(0)), 7);
  for (auto _ : state) benchmark::DoNotOptimize(Base64Encode(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Base64Encode)->Arg(512)->Arg(64 * 1024);

void BM_Base64Decode(benchmark::State& state) {
  const std::string text = Base64Encode(PatternBytes(static_cast<std::size_t>(state.range(0)), 7));
  for (auto _ : state) benchmark::DoNotOptimize(Base64Decode(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Base64Decode)->Arg(512)->Arg(64 * 1024);

void BM_FormEscape(benchmark::State& state) {
  std::string text;
  while (text.size() < 4096) text += "user=J\xC3\xBCrgen M\xC3\xBCller&note=100% done (a+b)/c; ";
  for (auto _ : state) benchmark::DoNotOptimize(FormEscape(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FormEscape);

void BM_RequestBodyOf50Results(benchmark::State& state) {
  const auto status = PatternBytes(7, 0x41);
  const auto answer = PatternBytes(512, 3);
  RequestBody body;
  for (auto _ : state) {
    body.Reset();
    for (int i = 0; i < 50; ++i) body.AddOperationResult(answer, "success", status);
    body.AddField("clientMode", "standard");
    benchmark::DoNotOptimize(body.Finish());
  }
}
BENCHMARK(BM_RequestBodyOf50Results);

}  // namespace
}  // namespace Pellux

BENCHMARK_MAIN();
