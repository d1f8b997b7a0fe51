// The loader tests' common parts: images and jobs made from bytes, and a LoaderDisplay that
// records what the loader shows, from any thread, checking the texts and the page lock it gets.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "loader/loader_machine.h"
#include "tests/support/guarded.h"

namespace vantora::test {

inline std::shared_ptr<FirmwareImage> ImageOf(const std::vector<uint8_t>& bytes) {
    auto image = std::make_shared<FirmwareImage>();
    std::copy(bytes.begin(), bytes.end(), image->Bytes.begin());
    image->Size = static_cast<int32_t>(bytes.size());
    return image;
}

// What the receiver's flash holds after a good load of bytes with a size field of kib.
inline std::vector<uint8_t> StreamOf(const std::vector<uint8_t>& bytes, uint16_t kib) {
    return LoadStream(*ImageOf(bytes), LoadLimitOf(kib));
}

// A job as the Reload page builds it; the expected CRC is a good load's unless crc is given.
inline LoadJob MakeJob(const std::vector<uint8_t>& bytes, int target, uint16_t kib,
                       std::optional<uint16_t> crc = {}) {
    LoadJob job;
    job.Image = ImageOf(bytes);
    job.Target = target;
    job.Fields.AddressWord = target == Target4100 ? 0 : 0x300;
    job.Fields.SizeWord = kib;
    job.Fields.ExpectedCrc = crc ? *crc : LoadStreamCrc(*job.Image, LoadLimitOf(kib));
    return job;
}

class LoaderRecorder : public LoaderDisplay, public Guarded {
public:
    void ShowState(int state, const char* stateText, const char* statusText, bool locked) override {
        EXPECT_STREQ(stateText, LoaderStateText[state]);
        EXPECT_STREQ(statusText, LoaderStatusText[state]);
        EXPECT_EQ(locked, state > StateStandby);
        Add([&] {
            if (states.empty() || states.back() != state) states.push_back(state);
        });
    }
    void InitProgress(int maximum) override {
        EXPECT_EQ(maximum, 128);
        Add([&] { steps = 0; });
    }
    void StepProgress() override {
        Add([&] { ++steps; });
    }
    void ShowResult(LoadResultText r) override {
        Add([&] { results.push_back(r); });
    }
    void ShowCrc(const LoaderCrcValues& v) override {
        Add([&] { crcs.push_back(v); });
    }
    void ShowTransfer(int64_t, uint32_t sent, uint32_t total, double) override {
        EXPECT_LE(sent, total);
        Add([&] { lastSent = sent; });
    }
    void LoadEnded(const LoadReport& r) override {
        Add([&] { reports.push_back(r); });
    }
    std::optional<LoadJob> SnapshotJob(std::string& refusal) override {
        std::lock_guard lock(mutex);
        ++snapshots;
        if (!job) refusal = "no image chosen";
        return job;
    }

    int Count(int state) const { return static_cast<int>(std::count(states.begin(), states.end(), state)); }

    std::vector<int> states;
    std::vector<LoadResultText> results;
    std::vector<LoaderCrcValues> crcs;
    std::vector<LoadReport> reports;
    std::optional<LoadJob> job;
    int steps = 0, snapshots = 0;
    uint32_t lastSent = 0;
};

}  // namespace vantora::test
