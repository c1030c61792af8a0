// Device enumeration objects shared by the platforms: a property bag of
// named text values and an enumerator over a fixed list of devices.
#pragma once

#include "platform/media/media_object.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace media {

// Property names a camera's bag may hold.
inline constexpr const char* kPropertyDescription = "Description";
inline constexpr const char* kPropertyFriendlyName = "FriendlyName";

class PropertyBag : public MediaObject<IPropertyBag> {
public:
    // A value of nullopt is a property present without a string.
    using Values = std::map<std::string, std::optional<std::string>>;
    explicit PropertyBag(Values values) : m_values(std::move(values)) {}

    HRESULT Read(const char* name, VARIANT* value) override;

private:
    Values m_values;
};

// Walks a snapshot of the devices taken when the enumerator was created.
class MonikerEnumerator : public MediaObject<IEnumMoniker> {
public:
    // Takes over one reference of each moniker.
    explicit MonikerEnumerator(std::vector<IMoniker*> devices) : m_devices(std::move(devices)) {}

    HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) override;
    HRESULT Reset() override;

private:
    ~MonikerEnumerator() override;
    std::vector<IMoniker*> m_devices;
    size_t m_next = 0;
};

}  // namespace media
