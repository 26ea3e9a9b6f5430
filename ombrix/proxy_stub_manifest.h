#pragma once

#include <string>
#include <string_view>
#include <vector>

// One interface whose proxy/stub the application manifest declares.
struct ProxyStubEntry {
    std::wstring iid;
    std::wstring name;
    std::wstring threadingModel;
    friend bool operator==(const ProxyStubEntry&, const ProxyStubEntry&) = default;
};

// The comInterfaceProxyStub entries under assembly/file, in document order; an
// empty threadingModel reads "Apartment". Any defect of the document (not XML,
// another root, an entry without one of its attributes) yields no entries at all.
std::vector<ProxyStubEntry> parseProxyStubEntries(std::string_view manifest);
