#include "platform/MessageSink.h"

#include <cstdio>

namespace kwd {
namespace {

void defaultSink(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

MessageSink& currentSink() {
    static MessageSink sink = defaultSink;
    return sink;
}

}  // namespace

void showMessage(const std::string& text) { currentSink()(text); }

MessageSink setMessageSink(MessageSink sink) {
    MessageSink previous = currentSink();
    currentSink() = sink ? std::move(sink) : MessageSink(defaultSink);
    return previous;
}

ScopedMessageCapture::ScopedMessageCapture()
    : fPrevious(setMessageSink([this](const std::string& t) { fMessages.push_back(t); })) {}

ScopedMessageCapture::~ScopedMessageCapture() { setMessageSink(fPrevious); }

}  // namespace kwd
