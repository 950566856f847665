// The wave devices of one direction, by index, as the sound-card selection
// dialog lists them. Both wave-device interfaces offer this view of
// themselves, so the dialog works the same for input and output.
#pragma once

#include <string>

class WaveDeviceCatalog {
public:
    virtual ~WaveDeviceCatalog() = default;
    // Number of devices; valid indices are 0 to DeviceCount() - 1, in the
    // order the open call understands them.
    virtual unsigned DeviceCount() = 0;
    // The product name (at most 31 characters); empty when the device cannot
    // report its capabilities.
    virtual std::string ProductName(unsigned index) = 0;
};

// szPname of a WAVEOUTCAPSA or WAVEINCAPSA filled by `query`; a failed query
// leaves the zeroed record and so gives an empty name.
template <typename Capabilities, typename Query>
std::string ProductNameFrom(Query query)
{
    Capabilities caps{};
    query(&caps);
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    return caps.szPname;
}
