#pragma once
// The message window: a text shown to the user. By default one line on
// standard error; it never waits for input. Tests install a capturing sink.

#include <functional>
#include <string>
#include <vector>

namespace kwd {

using MessageSink = std::function<void(const std::string&)>;

void showMessage(const std::string& text);
// Installs a sink and returns the previous one; an empty sink restores the default.
MessageSink setMessageSink(MessageSink sink);

// Collects the messages shown while it lives (for tests).
class ScopedMessageCapture {
public:
    ScopedMessageCapture();
    ~ScopedMessageCapture();
    ScopedMessageCapture(const ScopedMessageCapture&) = delete;
    ScopedMessageCapture& operator=(const ScopedMessageCapture&) = delete;
    const std::vector<std::string>& messages() const { return fMessages; }

private:
    std::vector<std::string> fMessages;
    MessageSink fPrevious;
};

}  // namespace kwd
