// Message boxes for tests and benchmarks: recorded as "title|text|error" (or "|other"), or
// printed to the error output. Neither waits for a click.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/platform.h"

namespace vantora::test {

// Not locked: for code that shows its boxes on the test's own thread.
class BoxRecorder : public MessageBoxSink {
public:
    void Show(const std::string& title, const std::string& text, BoxIcon icon) override {
        shown.push_back(title + "|" + text + (icon == BoxIcon::Error ? "|error" : "|other"));
    }
    std::vector<std::string> shown;
};

// A run with no one to click: each box is one line on stderr.
class PrintedBoxes : public MessageBoxSink {
public:
    void Show(const std::string& title, const std::string& text, BoxIcon) override {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    }
};

}  // namespace vantora::test
