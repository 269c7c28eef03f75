#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "ui/channel/session_control.h"

namespace Pellux {

// An engine for the UI channel's tests and fuzz target: remembers every action, and answers the
// status questions from fields a test sets. "init" and "finish" change the mode and the
// session's context as the engine would. Thread-safe; header-only, so that the fuzz build (which
// has no test libraries) can use it too.
class RecordingSessionControl final : public SessionControl {
 public:
  struct Action {
    std::string name;
    std::string argument;
    Context context;

    bool operator==(const Action&) const = default;
  };

  void ProcessAction(const std::string& action, const std::string& argument,
                     Context context) override {
    std::lock_guard guard(mutex_);
    actions_.push_back({action, argument, context});
    if (action == "init") {
      mode_ = argument;
      context_ = context;
    } else if (action == "finish") {
      mode_ = kStandardMode;
      context_ = kNoContext;
    }
  }
  [[nodiscard]] std::string Mode() const override {
    std::lock_guard guard(mutex_);
    return mode_;
  }
  [[nodiscard]] Context SessionContext() const override {
    std::lock_guard guard(mutex_);
    return context_;
  }
  [[nodiscard]] std::vector<Context> HeldContexts() const override {
    std::lock_guard guard(mutex_);
    return {context_};
  }
  [[nodiscard]] std::string ServerHost() const override { return "upload.example"; }
  [[nodiscard]] bool IsBaseStationOpen() const override {
    std::lock_guard guard(mutex_);
    return open_;
  }
  [[nodiscard]] std::int64_t LastSleepTime() const override {
    std::lock_guard guard(mutex_);
    return lastSleep_;
  }

  // The session's owner is the context of the last "init".
  [[nodiscard]] EngineRecord Status() const override {
    std::lock_guard guard(mutex_);
    EngineRecord out{record_, context_};
    out.record.mode = mode_;
    out.record.baseStation.open = open_;
    out.record.lastSleepTime = lastSleep_;
    return out;
  }

  // What Status gives beyond the mode, the owner and the fields of SetStatus.
  void SetRecord(const StatusRecord& record) {
    std::lock_guard guard(mutex_);
    record_ = record;
  }
  void SetStatus(bool open, std::int64_t lastSleep) {
    std::lock_guard guard(mutex_);
    open_ = open;
    lastSleep_ = lastSleep;
  }
  [[nodiscard]] std::vector<Action> Actions() const {
    std::lock_guard guard(mutex_);
    return actions_;
  }
  void ClearActions() {
    std::lock_guard guard(mutex_);
    actions_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Action> actions_;
  std::string mode_ = kStandardMode;
  Context context_ = kNoContext;
  bool open_ = false;
  std::int64_t lastSleep_ = 0;
  StatusRecord record_;
};

}  // namespace Pellux
