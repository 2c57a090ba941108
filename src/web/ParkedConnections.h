#pragma once
// The connections that the window's server has suspended, and the one thread that
// resumes them, so that no thread is held per waiting client and nothing wakes
// periodically:
// - an event stream, when the window state changes past the version it sent, when its
//   page hangs up (its socket is watched in poll()), or when its keep-alive falls due;
// - a held answer (a password checked later), when its time comes.
//
// Park*() and EndOldestStream() belong to the server's thread and are called from the
// connection's own callback, as the library requires for suspending; Start() and Stop()
// to the thread that owns the server.
#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileDescriptor.h"
#include "platform/WindowModel.h"

namespace telvara {

class ParkedConnections {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  explicit ParkedConnections(const WindowModel& model);
  ~ParkedConnections();
  ParkedConnections(const ParkedConnections&) = delete;
  ParkedConnections& operator=(const ParkedConnections&) = delete;

  bool Start();
  // Resumes every parked connection and parks none from now on.
  void Stop();

  struct Stream {
    std::string key;       // the client's address, as ClientLimits counts it
    int socket = -1;       // watched for the page hanging up
    uint64_t started = 0;  // streams that started earlier have smaller numbers
    uint64_t seen = 0;     // the version of the window it has sent
    TimePoint keepAliveDue;
    std::atomic<bool>* end = nullptr;  // set before a resume that must end it
  };
  // Suspends an event stream. False, and nothing suspended, once stopping.
  bool ParkStream(MHD_Connection* connection, const Stream& stream);
  // Suspends a connection until `due`. False, and nothing suspended, once stopping.
  bool ParkUntil(MHD_Connection* connection, TimePoint due);
  // Ends the parked event stream of `key` that started first; false when none is
  // parked.
  bool EndOldestStream(const std::string& key);

 private:
  struct Entry {
    MHD_Connection* connection;
    bool isStream;
    Stream stream;  // when isStream
    TimePoint due;
  };

  bool Park(Entry entry);
  void Wake();
  void Run();

  const WindowModel& model_;
  UniqueFileDescriptor wake_;  // eventfd: a park, a stop or a change of the window
  std::thread thread_;
  std::mutex mutex_;
  std::vector<Entry> entries_;  // guarded by mutex_
  bool stopping_ = false;       // guarded by mutex_
};

}  // namespace telvara
