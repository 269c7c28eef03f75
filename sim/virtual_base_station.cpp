#include "sim/virtual_base_station.h"

#include <boost/asio/post.hpp>
#include <future>
#include <utility>

namespace Pellux {

VirtualBaseStation::VirtualBaseStation(Clock& clock, BaseStationOptions options)
    : clock_(clock),
      options_(std::move(options)),
      tracker_(options_.tracker),
      module_(options_.channelCount, tracker_, faults_) {}

VirtualBaseStation::~VirtualBaseStation() {
  Close(false);
}

bool VirtualBaseStation::AutoInit() {
  Close(false);
  std::lock_guard<std::mutex> guard(mutex_);
  if (unplugged_) return false;
  deviceNumber_ = options_.devicePosition;
  baud_ = kAutoInitBaud;
  return true;
}

bool VirtualBaseStation::Init(std::uint32_t baud, std::uint8_t deviceNumber) {
  Close(false);
  std::lock_guard<std::mutex> guard(mutex_);
  deviceNumber_ = deviceNumber;
  baud_ = baud;
  return true;
}

std::uint32_t VirtualBaseStation::GetDeviceSerialNumber() {
  std::lock_guard<std::mutex> guard(mutex_);
  return open_ ? options_.serialNumber : 0;
}

bool VirtualBaseStation::GetDeviceUSBInfo(std::uint8_t deviceNumber, std::string& product,
                                          std::string& serial) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (unplugged_ || deviceNumber != options_.devicePosition) return false;
  product = options_.productText;
  serial = std::to_string(options_.serialNumber);
  return true;
}

bool VirtualBaseStation::GetDevicePID(std::uint16_t& productId) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!open_) return false;
  productId = options_.productId;
  return true;
}

void VirtualBaseStation::SetCallback(DSISerialCallback* callback) {
  std::lock_guard<std::mutex> guard(mutex_);
  callback_ = callback;
}

bool VirtualBaseStation::Open() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_);
  std::lock_guard<std::mutex> guard(mutex_);
  if (open_ || callback_ == nullptr || unplugged_ || deviceNumber_ != options_.devicePosition) {
    return false;
  }
  module_.PowerUp();
  parser_ = AntFrameParser{};
  deviceLost_ = false;
  readStopped_ = false;
  for (std::size_t i = 0; i < module_.ChannelCount(); ++i) {
    slotTimers_.push_back(clock_.CreateTimer(io_.get_executor()));
  }
  armedFor_.assign(module_.ChannelCount(), std::nullopt);
  pollTimer_ = clock_.CreateTimer(io_.get_executor());
  io_.restart();
  work_.emplace(io_.get_executor());
  loop_ = std::thread([this] { io_.run(); });
  open_ = true;
  return true;
}

void VirtualBaseStation::Close(bool /*reset*/) {
  std::lock_guard<std::mutex> lifecycle(lifecycle_);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_) return;
    // From here on nothing is delivered; what is still queued on the loop drains unseen.
    open_ = false;
    StopTimers();
    module_.PowerUp();
  }
  work_.reset();
  loop_.join();
}

bool VirtualBaseStation::WriteBytes(const std::uint8_t* data, std::size_t size) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!open_ || data == nullptr) return false;
  if (deviceLost_) {
    Post({}, DSISerialCallback::kWriteFailed);
    return false;
  }
  AntFrameParser::Result parsed = parser_.Feed(std::span<const std::uint8_t>(data, size));
  for (auto& rejected : parsed.rejected) {
    rejected_.push_back(std::move(rejected));
  }
  const TimePoint now = clock_.Now();
  std::vector<AntFrame> answers;
  for (const AntFrame& frame : parsed.frames) {
    hostMessages_.push_back(frame);
    std::vector<AntFrame> answer = module_.Process(frame, now);
    answers.insert(answers.end(), answer.begin(), answer.end());
  }
  Reschedule(now);
  if (!answers.empty()) Post(std::move(answers));
  return true;
}

std::uint8_t VirtualBaseStation::GetDeviceNumber() {
  std::lock_guard<std::mutex> guard(mutex_);
  return deviceNumber_;
}

void VirtualBaseStation::WithTracker(const std::function<void(VirtualTracker&)>& action) {
  std::lock_guard<std::mutex> guard(mutex_);
  action(tracker_);
}

void VirtualBaseStation::Unplug(std::uint8_t errorCode) {
  std::lock_guard<std::mutex> guard(mutex_);
  unplugged_ = true;
  if (!open_ || deviceLost_) return;
  deviceLost_ = true;
  // The module lost its power with the plug.
  module_.PowerUp();
  Reschedule(clock_.Now());
  Post({}, errorCode);
  if (errorCode == DSISerialCallback::kDeviceUnreadable) ArmPoll();
}

bool VirtualBaseStation::IsPlugged() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return !unplugged_;
}

void VirtualBaseStation::Replug() {
  std::lock_guard<std::mutex> guard(mutex_);
  unplugged_ = false;
}

void VirtualBaseStation::InjectBytes(std::vector<std::uint8_t> bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!open_) return;
  boost::asio::post(io_, [this, bytes = std::move(bytes)] {
    DSISerialCallback* callback = nullptr;
    {
      std::lock_guard<std::mutex> deliveryGuard(mutex_);
      if (!open_ || readStopped_ || callback_ == nullptr) return;
      callback = callback_;
    }
    for (const std::uint8_t byte : bytes) callback->ProcessByte(byte);
  });
}

void VirtualBaseStation::InjectMessage(const AntFrame& frame) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!open_) return;
  Post({frame});
}

std::size_t VirtualBaseStation::HostMessageCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return hostMessages_.size();
}

std::vector<AntFrame> VirtualBaseStation::HostMessages() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return hostMessages_;
}

std::vector<std::vector<std::uint8_t>> VirtualBaseStation::RejectedFrames() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return rejected_;
}

TrackerSnapshot VirtualBaseStation::Tracker() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return tracker_.Snapshot();
}

AntChannel VirtualBaseStation::Channel(std::uint8_t channel) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return module_.Channel(channel);
}

std::uint8_t VirtualBaseStation::TransmitPower() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return module_.TransmitPower();
}

bool VirtualBaseStation::IsOpen() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return open_;
}

std::uint32_t VirtualBaseStation::Baud() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return baud_;
}

void VirtualBaseStation::Settle() {
  std::lock_guard<std::mutex> lifecycle(lifecycle_);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_) return;
  }
  std::promise<void> done;
  boost::asio::post(io_, [&done] { done.set_value(); });
  done.get_future().wait();
}

void VirtualBaseStation::Post(std::vector<AntFrame> frames, std::uint8_t error) {
  boost::asio::post(io_, [this, frames = std::move(frames), error] { Deliver(frames, error); });
}

void VirtualBaseStation::Deliver(const std::vector<AntFrame>& frames, std::uint8_t error) {
  DSISerialCallback* callback = nullptr;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_ || readStopped_ || callback_ == nullptr) return;
    callback = callback_;
    if (error == DSISerialCallback::kReadFailed) readStopped_ = true;
  }
  // A hung module swallows what it would have said; the line itself stays up.
  if (!faults_.ModuleHung()) {
    for (const AntFrame& frame : frames) {
      for (const std::uint8_t byte : frame.Encode()) {
        callback->ProcessByte(byte);
      }
    }
  }
  if (error != 0) callback->Error(error);
}

void VirtualBaseStation::Reschedule(TimePoint now) {
  for (std::size_t i = 0; i < slotTimers_.size(); ++i) {
    const auto channel = static_cast<std::uint8_t>(i);
    const std::optional<TimePoint> next = module_.NextSlot(channel);
    const std::uint64_t epoch = module_.Epoch(channel);
    const std::optional<ArmedSlot> wanted =
        next ? std::optional<ArmedSlot>(ArmedSlot{epoch, *next}) : std::nullopt;
    if (wanted == armedFor_[i]) continue;
    armedFor_[i] = wanted;
    if (!next) {
      slotTimers_[i]->Cancel();
      continue;
    }
    const auto delay = *next > now ? std::chrono::ceil<std::chrono::milliseconds>(*next - now)
                                   : std::chrono::milliseconds(0);
    slotTimers_[i]->Start(delay, [this, channel, epoch](bool cancelled) {
      if (!cancelled) OnSlot(channel, epoch);
    });
  }
}

void VirtualBaseStation::OnSlot(std::uint8_t channel, std::uint64_t epoch) {
  std::vector<AntFrame> out;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_ || module_.Epoch(channel) != epoch) return;
    const TimePoint now = clock_.Now();
    out = module_.Slot(channel, now);
    armedFor_[channel].reset();
    Reschedule(now);
  }
  Deliver(out, 0);
}

void VirtualBaseStation::ArmPoll() {
  pollTimer_->Start(options_.pollInterval, [this](bool cancelled) {
    if (!cancelled) OnPoll();
  });
}

void VirtualBaseStation::OnPoll() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!open_ || !deviceLost_ || readStopped_) return;
    ArmPoll();
  }
  Deliver({}, DSISerialCallback::kDeviceUnreadable);
}

void VirtualBaseStation::StopTimers() {
  // A destroyed timer's wait is dropped without running.
  slotTimers_.clear();
  armedFor_.clear();
  pollTimer_.reset();
}

}  // namespace Pellux
