#include "proxy_stub_manifest.h"

#include "err/utf.h"

#include <boost/property_tree/xml_parser.hpp>

#include <sstream>

std::vector<ProxyStubEntry> parseProxyStubEntries(std::string_view manifest)
{
    // The embedded manifest starts with a UTF-8 byte-order mark, which the XML
    // reader does not expect.
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    if (manifest.substr(0, bom.size()) == bom)
        manifest.remove_prefix(bom.size());
    try {
        std::istringstream stream{std::string(manifest)};
        boost::property_tree::ptree document;
        boost::property_tree::read_xml(stream, document);
        std::vector<ProxyStubEntry> entries;
        for (const auto& [fileName, file] : document.get_child("assembly")) {
            if (fileName != "file")
                continue;
            for (const auto& [entryName, entry] : file) {
                if (entryName != "comInterfaceProxyStub")
                    continue;
                ProxyStubEntry parsed{Err::widenAscii(entry.get<std::string>("<xmlattr>.iid")),
                                      Err::widenAscii(entry.get<std::string>("<xmlattr>.name")),
                                      Err::widenAscii(entry.get<std::string>("<xmlattr>.threadingModel"))};
                if (parsed.threadingModel.empty())
                    parsed.threadingModel = L"Apartment";
                entries.push_back(std::move(parsed));
            }
        }
        return entries;
    } catch (const boost::property_tree::ptree_error&) {
        return {};
    }
}
