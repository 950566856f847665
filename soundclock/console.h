// The command line program's contact with its surroundings: files and the
// standard streams in binary mode, and whether a stream is a terminal.
#pragma once

#include "meter/recording_reader.h"

#include <cstdio>

class FileSource : public ByteSource {
public:
    explicit FileSource(std::FILE* file) : file(file) {}
    size_t Read(unsigned char* buffer, size_t size) override;
    bool Failed() const { return failed; }

private:
    std::FILE* file;
    bool failed = false;
};

// Switches a standard stream to binary (no CR LF translation on Windows).
void UseBinaryMode(std::FILE* stream);
bool IsTerminal(std::FILE* stream);
