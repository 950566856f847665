#include "soundclock/console.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

size_t FileSource::Read(unsigned char* buffer, size_t size)
{
    const size_t got = std::fread(buffer, 1, size, file);
    if (got == 0 && std::ferror(file))
        failed = true;
    return got;
}

void UseBinaryMode(std::FILE* stream)
{
#ifdef _WIN32
    _setmode(_fileno(stream), _O_BINARY);
#else
    (void)stream;
#endif
}

bool IsTerminal(std::FILE* stream)
{
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}
