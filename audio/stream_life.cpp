#include "audio/stream_life.h"

void StreamLife::Run()
{
    if (state == StreamState::Ready || state == StreamState::Ending)
        state = StreamState::Running;
}

void StreamLife::End()
{
    if (state == StreamState::Ready || state == StreamState::Running)
        state = StreamState::Ending;
}

void StreamLife::Lose(const std::string& why)
{
    if (words.empty())
        words = why;
    if (Usable())
        state = StreamState::Lost;
}

bool StreamLife::Stop()
{
    const bool stopping = state != StreamState::Stopped;
    state = StreamState::Stopped;
    return stopping;
}
