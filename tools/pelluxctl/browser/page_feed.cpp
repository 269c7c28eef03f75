#include "tools/pelluxctl/browser/page_feed.h"

#include <nlohmann/json.hpp>
#include <utility>

namespace Pellux {
namespace {

// Texts from outside may hold any byte: invalid UTF-8 is replaced, never thrown over.
std::string Json(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string PageEvent(const PageFeed::Page& page) {
  return ServerSentEvent(
      "page",
      Json({{"number", page.number}, {"width", page.page.width}, {"height", page.page.height}}));
}

std::string InfoEvent(std::string_view line) {
  return ServerSentEvent("info", Json({{"text", std::string(line)}}));
}

}  // namespace

std::string ServerSentEvent(std::string_view name, std::string_view data) {
  std::string event = "event: ";
  event += name;
  event += "\ndata: ";
  event += data;
  event += "\n\n";
  return event;
}

std::string PageFeed::AddPage(HtmlPage page) {
  page_ = Page{++pages_, std::move(page), false};
  return PageEvent(*page_);
}

std::string PageFeed::AddInfo(std::string_view line) {
  lines_.emplace_back(line);
  if (lines_.size() > kKeptLines) lines_.pop_front();
  return InfoEvent(line);
}

std::string PageFeed::SetStatus(std::string_view record) {
  // The record is the service's JSON on one line; anything else is not passed on as an event's
  // data, where a line break would end it.
  if (record == status_ || record.find_first_of("\r\n") != std::string_view::npos) return {};
  status_ = record;
  return ServerSentEvent("status", status_);
}

std::string PageFeed::End(std::string_view text) {
  if (ended_) return {};
  ended_ = std::string(text);
  return ServerSentEvent("ended", Json({{"text", *ended_}}));
}

std::string PageFeed::Snapshot() const {
  std::string events;
  for (const std::string& line : lines_) events += InfoEvent(line);
  if (!status_.empty()) events += ServerSentEvent("status", status_);
  if (page_) events += PageEvent(*page_);
  if (ended_) events += ServerSentEvent("ended", Json({{"text", *ended_}}));
  return events;
}

PageFeed::Page* PageFeed::CurrentPage(int number) {
  return page_ && page_->number == number ? &*page_ : nullptr;
}

}  // namespace Pellux
