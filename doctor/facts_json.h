// How the doctor's facts become JSON and come back from it, for --save, --judge and --json. Texts
// are UTF-8 in JSON; raw bytes, such as a stream's, are kept as hexadecimal, so that what Windows
// handed the doctor comes back byte for byte. Portable.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "facts_json_fwd.h"
#include "text.h"

namespace nlohmann {

template <>
struct adl_serializer<std::wstring> {
  // NOLINTNEXTLINE(readability-identifier-naming): the library's name
  static void to_json(json& json, const std::wstring& text) { json = dunvelt::doctor::Utf8(text); }
  // NOLINTNEXTLINE(readability-identifier-naming): the library's name
  static void from_json(const json& json, std::wstring& text) {
    text = dunvelt::doctor::FromUtf8(json.get_ref<const json::string_t&>());
  }
};

}  // namespace nlohmann

// Defines to_json and from_json of a struct of facts, field by field; a field that a saved file
// lacks keeps its default, so that an older doctor's file is judged by a newer one.
#define DUNVELT_FACTS_JSON(Type, ...)                                                       \
  void to_json(nlohmann::json& nlohmann_json_j, const Type& nlohmann_json_t) {              \
    NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(NLOHMANN_JSON_TO, __VA_ARGS__))                \
  }                                                                                         \
  void from_json(const nlohmann::json& nlohmann_json_j, Type& nlohmann_json_t) {            \
    const Type nlohmann_json_default_obj{};                                                 \
    NLOHMANN_JSON_EXPAND(NLOHMANN_JSON_PASTE(NLOHMANN_JSON_FROM_WITH_DEFAULT, __VA_ARGS__)) \
  }
