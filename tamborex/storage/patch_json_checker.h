#pragma once

// Checks on the values of a parsed JSON text, each fault kept with its key's path and line.

#include <array>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "tamborex/storage/json_locations.h"
#include "tamborex/storage/patch_json.h"
#include "tamborex/storage/patch_json_internal.h"

inline constexpr std::int64_t kJsonInt32Min = std::numeric_limits<std::int32_t>::min();
inline constexpr std::int64_t kJsonInt32Max = std::numeric_limits<std::int32_t>::max();

// A value as a message quotes it: a long text only by its start.
std::string DescribeJson(const PatchJson& value);

class CJsonChecker {
  public:
    CJsonChecker(const CJsonLocations& where, std::vector<CPatchJsonProblem>& problems)
        : where_(where), problems_(problems) {}

    // A fault at path, on its line or, when the path is not in the text (a missing key), on
    // near's.
    void Fail(const std::string& path, std::string what, const std::string& near = {});

    // Whether value is an object; names each of its keys that is not one of keys.
    bool Object(const PatchJson& value, const std::string& path,
                std::initializer_list<const char*> keys, const char* whose);
    // The member k of object, or null (named as missing when it is required).
    const PatchJson* Get(const PatchJson& object, const std::string& path, const char* k,
                         bool required = true);

    // Each gives false, leaving out as it was, when the value is refused or (for a member)
    // missing.
    bool IntValue(const PatchJson& value, const std::string& at, std::int64_t lo, std::int64_t hi,
                  std::int32_t& out);
    bool Int(const PatchJson& object, const std::string& path, const char* k, std::int64_t lo,
             std::int64_t hi, std::int32_t& out, bool required = true);
    bool NumberValue(const PatchJson& value, const std::string& at, double lo, double hi,
                     double& out);
    bool Number(const PatchJson& object, const std::string& path, const char* k, double lo,
                double hi, double& out, bool required = true);
    bool Flag(const PatchJson& object, const std::string& path, const char* k, bool& out,
              bool required = true);
    // A flag the file keeps as a 32-bit 1 or 0.
    bool Flag(const PatchJson& object, const std::string& path, const char* k, std::int32_t& out);
    bool Text(const PatchJson& value, const std::string& at, std::string& out);
    bool Hex(const PatchJson& value, const std::string& at, std::vector<std::uint8_t>& bytes);

    // The list k of object when it holds least to most elements; holds names them.
    const PatchJson* List(const PatchJson& object, const std::string& path, const char* k,
                          std::size_t least, std::size_t most, const std::string& holds,
                          bool required = true);

    template <std::size_t N>
    void IntList(const PatchJson& object, const std::string& path, const char* k, std::int64_t lo,
                 std::int64_t hi, std::array<std::int32_t, N>& out) {
        if (const PatchJson* list = List(object, path, k, N, N, "numbers")) {
            for (std::size_t i = 0; i < N; ++i) {
                (void)IntValue((*list)[i], JsonPathIndex(JsonPathMember(path, k), i), lo, hi,
                               out[i]);
            }
        }
    }

  private:
    const CJsonLocations& where_;
    std::vector<CPatchJsonProblem>& problems_;
};
