// A ViewDisplay that records what the receive thread asks to show, for tests on any thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/platform.h"
#include "tests/support/guarded.h"
#include "view/view_display.h"

namespace vantora {

using namespace std::chrono_literals;

class Recorder : public NullViewDisplay, public Guarded {
public:
    void ShowMessage(const std::string& text) override { Add([&] { messages.push_back(text); }); }
    void ShowFix(const NavRecord& r, const GnssSky* sky) override {
        Add([&] { fixes.push_back(r), skies.push_back(sky != nullptr); });
    }
    void ShowErrorCount(int) override { Add([&] { ++errorDisplays; }); }
    void SetMeasurementVisible(bool v) override { Add([&] { visibility.push_back(v); }); }
    void ShowMeasurementGrid(const NavRecord&) override { Add([&] { ++grids; }); }
    void ShowAck(uint8_t c) override { Add([&] { acks.push_back(c); }); }

    std::vector<std::string> messages;
    std::vector<NavRecord> fixes;
    std::vector<bool> skies;  // whether each fix came with the NMEA side's sky
    std::vector<bool> visibility;
    std::vector<uint8_t> acks;
    int errorDisplays = 0, grids = 0;
};

class NoBoxes : public MessageBoxSink {
public:
    void Show(const std::string&, const std::string& text, BoxIcon) override { ADD_FAILURE() << "box: " << text; }
};

// The loop publishes what it counted after the pass that showed it: poll for it.
template <typename Pred>
bool Eventually(Pred pred) {
    for (int i = 0; i < 300; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

}  // namespace vantora
