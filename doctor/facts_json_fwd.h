// The doctor's facts as JSON, declared: what a topic's header needs to say that its facts can be
// saved and read back. facts_json.h defines it. Portable.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

namespace dunvelt::doctor {

// Bytes as a gatherer read them, which need not be text in any encoding.
struct RawBytes {
  std::string bytes;
  friend bool operator==(const RawBytes& left, const RawBytes& right) {
    return left.bytes == right.bytes;
  }
};

void to_json(nlohmann::json& json, const RawBytes& raw);    // NOLINT(readability-identifier-naming)
void from_json(const nlohmann::json& json, RawBytes& raw);  // NOLINT(readability-identifier-naming)

}  // namespace dunvelt::doctor

// Declares to_json and from_json of a struct of facts, in its topic's header.
#define DUNVELT_FACTS_JSON_DECLARE(Type)                                                         \
  void to_json(                                                                                  \
      nlohmann::json& json,                                                                      \
      const Type& facts); /* NOLINT(readability-identifier-naming,bugprone-macro-parentheses) */ \
  void from_json(                                                                                \
      const nlohmann::json& json,                                                                \
      Type& facts); /* NOLINT(readability-identifier-naming,bugprone-macro-parentheses) */
