#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <future>
#include <thread>

namespace Pellux {

// An event loop on its own thread, like the engine's.
class EventLoop {
 public:
  EventLoop() : guard_(io_.get_executor()), thread_([this] { io_.run(); }) {}
  ~EventLoop() {
    guard_.reset();
    io_.stop();
    thread_.join();
  }
  boost::asio::any_io_executor Executor() { return io_.get_executor(); }
  // Waits until everything posted so far has run.
  void Drain() {
    std::promise<void> done;
    boost::asio::post(io_, [&] { done.set_value(); });
    done.get_future().wait();
  }

 private:
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard_;
  std::thread thread_;
};

}  // namespace Pellux
