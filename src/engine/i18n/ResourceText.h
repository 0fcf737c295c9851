// Texts of the current resource module: the program's own English module or
// a language pack's.
#pragma once

#include "engine/res/ResourceModule.h"

#include <string>

namespace plexavo::i18n {

// The string `id` of the current module formatted printf-style with the
// remaining arguments. A missing id is logged and yields an empty text.
std::string loadResString(unsigned id, ...);

// The one switch point for language packs; nullptr restores the default.
void setCurrentModule(const res::Module* module);
const res::Module& currentModule();

// Text of an entry in a module, or nullptr when it has none.
const char* findText(const res::Module& module, res::Kind kind, int owner, int id);

// The conversion letters of the printf directives in a text, in order ("dds").
std::string conversionSignature(const char* text);

} // namespace plexavo::i18n
