// The group settings document: a CML policy in the GroupSettings namespace holding the group
// name, its versions and the controller list, read with the CML parser and written with the
// CML writer.
//
//     <policy xmlns='.../cml/GroupSettings' name='...' version='...' schema-version='...'>
//         <controller-list>
//             <controller-info name='...' host-name='...' port='...' .../>
//         </controller-list>
//     </policy>
//
// Reading is lenient towards additions and strict about what it uses: attributes, elements,
// comments and text it does not know (in any namespace, at any place) are ignored, so files
// written by newer controllers still load; such additions are not kept and a save writes
// only the fields below. The document's schema-version is reported, not checked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "session_config/group_settings.h"

namespace zel::scs {

// Fills settings from the document bytes (any encoding the XML parser detects; a document
// type declaration is refused). Returns 0, or ZEL_E_SCS_FILE_INVALID when the text is not
// well-formed XML, the root is not "policy" in the GroupSettings namespace, there is more
// than one "controller-list", or the result fails ValidateGroupSettings (a controller without
// host-name or port, a bad port, a type other than http/https, ...); settings is then
// untouched. An absent "controller-list" is an empty list; absent attributes read empty.
uint32_t ReadGroupSettingsDocument(std::string_view text, GroupSettings& settings);

// The UTF-8 document of settings: the XML declaration, the policy start tag with xmlns and
// the non-empty name, version and schema-version, then one line per controller carrying
// only its non-empty fields in their fixed order, values escaped in attribute mode. Four
// blanks of indentation per level and a line feed after every line.
std::string WriteGroupSettingsDocument(const GroupSettings& settings);

}  // namespace zel::scs
