#pragma once
// The driver on the virtual clock with a scripted modem behind it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeModem.h"
#include "modem/FMODEM.h"
#include "platform/EventLoop.h"
#include "platform/VirtualWaiter.h"

namespace telvara::test {

class ModemFixture : public ::testing::Test {
 protected:
  ModemFixture() {
    auto waiter = std::make_unique<VirtualWaiter>(clock);
    waiterPtr = waiter.get();
    loop = std::make_unique<EventLoop>(clock, std::move(waiter));
    waiterPtr->AddDevice(&modem);
    driver = std::make_unique<FMODEM>(*loop, modem.Opener());
    driver->SetFaultReporter([this](const std::string& text) { faults.push_back(text); });
  }
  ~ModemFixture() override {
    driver.reset();
  }

  // Opens the port and sets the dialect.
  void Open(ModemType type = Rockwell) {
    ASSERT_EQ(driver->OpenComm(1, 1152), 1);
    ASSERT_EQ(driver->SetModemType(type), 1);
    if (type == USRobotics) modem.lineRate = 8000;
  }
  uint32_t Now() const { return clock.Now(); }
  // Runs fn at the tick during the driver's next waits.
  void At(uint32_t tick, std::function<void()> fn) { waiterPtr->At(tick, std::move(fn)); }

  VirtualClock clock;
  VirtualWaiter* waiterPtr = nullptr;
  std::unique_ptr<EventLoop> loop;
  FakeModem modem{clock};
  std::unique_ptr<FMODEM> driver;
  std::vector<std::string> faults;
};

using Reply = FakeModem::Reply;

inline std::string Dle(char code) { return std::string{'\x10', code}; }

}  // namespace telvara::test
