#pragma once

#include <cereal/macros.hpp> // before its XML parser, which uses its macros
#include <cereal/external/rapidxml/rapidxml.hpp>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

// How deep elements nest in the document cereal's XML parser builds from the
// text with cereal::XMLInputArchive's flags ("<a><b/></a>" is 2); none when it
// refuses the text. The parser recurses once per level: only for shallow texts.
// Standard C++ alone: native builds and the fuzz targets use it too.
inline std::optional<std::size_t> parsedXmlDepth(std::string text)
{
    namespace rapidxml = cereal::rapidxml;
    rapidxml::xml_document<> document;
    try {
        document.parse<rapidxml::parse_trim_whitespace | rapidxml::parse_no_data_nodes |
                       rapidxml::parse_declaration_node>(text.data());
    } catch (const rapidxml::parse_error&) {
        return std::nullopt;
    }
    std::size_t deepest = 0;
    std::vector<std::pair<const rapidxml::xml_node<>*, std::size_t>> pending{{&document, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, depth);
        for (const rapidxml::xml_node<>* child = node->first_node(); child; child = child->next_sibling())
            if (child->type() == rapidxml::node_element)
                pending.emplace_back(child, depth + 1);
    }
    return deepest;
}

} // namespace TestSupport
