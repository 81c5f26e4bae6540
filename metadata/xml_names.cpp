#include "metadata/xml_names.h"

#include <charconv>
#include <cmath>
#include <string>

#include "metadata/iso_time.h"

std::string_view NamespaceOf(pugi::xml_node element) {
    const std::string_view name = element.name();
    const std::size_t colon = name.find(':');
    const std::string attribute =
        colon == std::string_view::npos ? "xmlns" : "xmlns:" + std::string(name.substr(0, colon));
    for (pugi::xml_node node = element; node.type() == pugi::node_element; node = node.parent()) {
        const pugi::xml_attribute declaration = node.attribute(attribute.c_str());
        if (declaration)
            return declaration.value();
    }
    return {};
}

std::string_view LocalName(pugi::xml_node element) {
    const std::string_view name = element.name();
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool IsElement(pugi::xml_node node, std::string_view space, std::string_view local) {
    return node.type() == pugi::node_element && LocalName(node) == local &&
           NamespaceOf(node) == space;
}

pugi::xml_node ChildElement(pugi::xml_node parent, std::string_view space, std::string_view local) {
    for (pugi::xml_node child : parent.children()) {
        if (IsElement(child, space, local))
            return child;
    }
    return {};
}

std::string_view ElementText(pugi::xml_node element) { return TrimBlanks(element.child_value()); }

int ElementNumber(pugi::xml_node element, double& value) {
    std::string_view text = ElementText(element);
    // XML Schema allows a leading plus sign, which from_chars does not.
    bool plusSign = false;
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        plusSign = true;
    }
    if (text.empty() || (plusSign && text.front() == '-'))
        return 1;
    double number = 0.0;
    const std::from_chars_result result =
        std::from_chars(text.data(), text.data() + text.size(), number);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(number))
        return 1;
    value = number;
    return 0;
}
