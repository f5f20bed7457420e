#pragma once
// Runs simulated terminals on a pseudo-terminal and opens the PC side as COM1,
// the way the program reaches a real line.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/CommPort.h"
#include "link/Customport.h"
#include "link/ErrorLog.h"
#include "link/Orveta.h"
#include "link/Settings.h"
#include "SimulatorLog.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "tools/orveta-sim/Simulator.h"

class LinkFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings() = LinkSettings{};
    SetStartDirectory(directory_);
  }

  void TearDown() override {
    terminals_.clear();
    port_.reset();
    if (sim_) sim_->Stop();
    sim_.reset();
    SetComDevicePath(0, "/dev/ttyS0");
  }

  // Starts the simulator with the given terminals and opens its line as COM1.
  void StartLine(std::vector<SimTerminalSpec> terminals, SimOptions options = {}) {
    options.Link = directory_ + "/line";
    options.Terminals = std::move(terminals);
    sim_ = std::make_unique<Simulator>(options);
    std::string error;
    ASSERT_TRUE(sim_->Start(error)) << error;
    SetComDevicePath(0, sim_->LinkPath());
    port_ = std::make_unique<TSer_Port>(0, Settings().PortBaud);
    ASSERT_TRUE(port_->Opened);
  }

  TOrveta& Terminal(uint32_t address) {
    terminals_.push_back(std::make_unique<TOrveta>(port_.get(), address));
    return *terminals_.back();
  }

  // The hex bytes of every simulator log line of one kind ("rx", "tx-ack", ...).
  std::vector<std::string> Logged(const std::string& kind) const {
    return HexOfKind(ParseSimLog(sim_->LogLines()), kind);
  }

  // Waits until the simulator has logged `count` lines of a kind.
  bool WaitLogged(const std::string& kind, size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (Logged(kind).size() < count) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  TempDir temp_{"link"};
  const std::string directory_ = temp_.Path().string();
  std::unique_ptr<Simulator> sim_;
  std::unique_ptr<TSer_Port> port_;
  std::vector<std::unique_ptr<TOrveta>> terminals_;
};

// A writable work buffer holding a request line, as the callers hand it.
inline std::vector<char> LineBuffer(const std::string& text) {
  std::vector<char> buffer(256, 0);
  std::copy(text.begin(), text.end(), buffer.begin());
  return buffer;
}
