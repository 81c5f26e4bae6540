#pragma once

#include <pugixml.hpp>
#include <string_view>

// pugixml keeps an element's name as it is written ("q:quakeml", "Station"); these helpers
// compare what the name means, the namespace its prefix (or the default namespace) is bound
// to and the local part, so a document may choose any prefixes it likes.

// Returns the namespace name of element, found in the xmlns attributes of the element and its
// ancestors; empty when none is declared.
std::string_view NamespaceOf(pugi::xml_node element);

// Returns the name of element without its prefix.
std::string_view LocalName(pugi::xml_node element);

// True when node is an element named local in namespace space.
bool IsElement(pugi::xml_node node, std::string_view space, std::string_view local);

// Returns the first child element of parent named local in namespace space, or an empty node.
pugi::xml_node ChildElement(pugi::xml_node parent, std::string_view space, std::string_view local);

// Returns the text of element with blanks around it removed; empty for an empty node.
std::string_view ElementText(pugi::xml_node element);

// Reads the text of element as a finite number. Returns 0 with value set; 1 when element is
// missing or holds no number, value unchanged.
int ElementNumber(pugi::xml_node element, double& value);
