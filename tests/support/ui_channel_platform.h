#pragma once

#include <memory>
#include <string>

#include "base/clock.h"
#include "base/ui_sender.h"
#include "server/network_worker_pool.h"
#include "ui/channel/pipe_server.h"
#include "ui/service_user_interface.h"
#include "ui/settings/settings_store.h"

namespace Pellux {

// The service's side of the UI channel on this platform, for tests that talk to it as a UI
// does: the platform's user interface bridge (reading the shipped error page template) and its
// real listener, at an address of the test's own: a socket in a fresh folder on Linux, a pipe
// named after the process on Windows. One suite of tests then runs against both platforms.
class UiChannelPlatform {
 public:
  // `tag` keeps the addresses of different fixtures apart.
  explicit UiChannelPlatform(const std::string& tag);
  UiChannelPlatform(const UiChannelPlatform&) = delete;
  UiChannelPlatform& operator=(const UiChannelPlatform&) = delete;
  // Removes the scratch folder and everything in it.
  ~UiChannelPlatform();

  // Where the listener listens, as pelluxctl names the service.
  [[nodiscard]] const std::string& ServiceAddress() const { return service_; }
  // A reply endpoint of this process for a UI, tagged `tag`; nothing listens on it yet.
  [[nodiscard]] std::string ReplyName(const std::string& tag) const;
  // This process as the platform's listener reports it: the sender of the messages a test
  // writes itself.
  [[nodiscard]] static UiSender ThisProcess();
  // An address where nothing listens.
  [[nodiscard]] std::string UnusedAddress() const;
  // A fresh folder for the test's files, removed with this object.
  [[nodiscard]] const std::string& Folder() const { return folder_; }

  // The platform's bridge over `settings` and `pool`; its listener comes from MakeListener.
  std::unique_ptr<ServiceUserInterface> MakeInterface(SettingsStore& settings,
                                                      NetworkWorkerPool& pool,
                                                      NetworkWorkerPool::Completion answers,
                                                      const Clock& clock);
  // The listener at ServiceAddress() of the interface made last, which must still be alive.
  std::unique_ptr<PipeServer> MakeListener();

 private:
  std::string folder_;
  std::string service_;
  std::string tag_;
  ServiceUserInterface* made_ = nullptr;
};

}  // namespace Pellux
