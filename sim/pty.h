// The pseudo-terminal that stands in for the receiver's serial adapter.
#pragma once

#include <string>

namespace vantora::sim {

class Pty {
public:
    Pty() = default;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty() { Close(); }

    // Opens a new pair: the master non-blocking, the slave kept open by us too (so the
    // master never reads end-of-file between two host sessions) and set raw at rate.
    bool Open(int rate, std::string& error);
    // Closing the master hangs the host's side up, as pulling the adapter out would.
    void Close();
    bool IsOpen() const { return master_ >= 0; }
    int Master() const { return master_; }
    int Slave() const { return slave_; }
    const std::string& SlavePath() const { return slavePath_; }
    // The rate the host set on its end; 0 when it cannot be read.
    int HostRate() const;
    // Drops what the host has not read yet: bytes that were on the wire while it changed rate.
    void DropUnread();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Points link at target, replacing an existing symbolic link (never another kind of file).
bool PointLink(const std::string& link, const std::string& target, std::string& error);
// Removes link only while it still names target: another simulator may have taken the name over.
void UnpointLink(const std::string& link, const std::string& target);

}  // namespace vantora::sim
