#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/fixed_authority.h"
#include "ui/channel/service_pipe_hooks.h"

namespace Pellux {

// The bridge as the service pipe sees it, recording every call. Thread-safe; header-only, so
// that the fuzz build can use it too.
class RecordingPipeHooks final : public ServicePipeHooks {
 public:
  struct Line {
    std::string text;
    int level;
  };
  struct Reply {
    std::string text;
    Context context;
  };
  struct Request {
    NetworkRequest request;
    Context context;
  };

  void Log(const std::string& text, int level, Context /*context*/) override {
    std::lock_guard guard(mutex_);
    lines_.push_back({text, level});
  }
  bool WriteIntSetting(const std::string& section, const std::string& name,
                       std::uint32_t value) override {
    std::lock_guard guard(mutex_);
    writes_.push_back(section + "/" + name + "=" + std::to_string(value));
    return true;
  }
  bool WriteStringSetting(const std::string& section, const std::string& name,
                          const std::string& value) override {
    std::lock_guard guard(mutex_);
    writes_.push_back(section + "/" + name + "='" + value + "'");
    return true;
  }
  void ApplyLogging(std::int32_t enabled, std::int32_t days) override {
    std::lock_guard guard(mutex_);
    logging_.push_back(std::to_string(enabled) + " " + std::to_string(days));
  }
  void ReplaceProxySettings(const ProxySettings& settings) override {
    std::lock_guard guard(mutex_);
    proxies_.push_back(settings);
  }
  void SendRequest(NetworkRequest request, Context context) override {
    std::lock_guard guard(mutex_);
    requests_.push_back({std::move(request), context});
  }
  bool SendStatusReply(const std::string& text, Context context) override {
    std::lock_guard guard(mutex_);
    replies_.push_back({text, context});
    return true;
  }
  // Fills the service's fields from `service`.
  void FillStatus(StatusRecord& record) override {
    std::lock_guard guard(mutex_);
    record.version = service.version;
    record.now = service.now;
    record.startedAt = service.startedAt;
    record.logFile = service.logFile;
    record.proxy = service.proxy;
  }
  bool SendStatusRecord(const std::string& record, Context context) override {
    std::lock_guard guard(mutex_);
    records_.push_back({record, context});
    return true;
  }
  // The service's part of each record (set before the pipe runs).
  StatusRecord service;

  bool IsAdministrator(const UiSender& sender) override {
    return platformAuthority != nullptr ? platformAuthority->IsAdministrator(sender)
                                        : authority.IsAdministrator(sender);
  }
  ReplyEndpoints& Endpoints() override { return endpoints; }

  // Root is an administrator; a test adds whom else it wants.
  FixedAuthority authority;
  // When set, asked instead: the platform's own.
  UiAuthority* platformAuthority = nullptr;
  ReplyEndpoints endpoints;

  // Copies, taken under the lock.
  [[nodiscard]] std::vector<Line> Lines() const { return Copy(lines_); }
  [[nodiscard]] std::vector<std::string> Writes() const { return Copy(writes_); }
  [[nodiscard]] std::vector<std::string> Logging() const { return Copy(logging_); }
  [[nodiscard]] std::vector<ProxySettings> Proxies() const { return Copy(proxies_); }
  [[nodiscard]] std::vector<Request> Requests() const { return Copy(requests_); }
  [[nodiscard]] std::vector<Reply> Replies() const { return Copy(replies_); }
  [[nodiscard]] std::vector<Reply> Records() const { return Copy(records_); }
  [[nodiscard]] std::size_t Count(const std::string& text) const {
    std::lock_guard guard(mutex_);
    std::size_t count = 0;
    for (const Line& line : lines_) count += line.text == text ? 1 : 0;
    return count;
  }
  void Clear() {
    std::lock_guard guard(mutex_);
    lines_.clear();
    writes_.clear();
    logging_.clear();
    proxies_.clear();
    requests_.clear();
    replies_.clear();
    records_.clear();
  }

 private:
  template <typename Item>
  std::vector<Item> Copy(const std::vector<Item>& items) const {
    std::lock_guard guard(mutex_);
    return items;
  }

  mutable std::mutex mutex_;
  std::vector<Line> lines_;
  std::vector<std::string> writes_;
  std::vector<std::string> logging_;
  std::vector<ProxySettings> proxies_;
  std::vector<Request> requests_;
  std::vector<Reply> replies_;
  std::vector<Reply> records_;
};

}  // namespace Pellux
