#include "tamborex/storage/patch_json_checker.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

std::string KeyList(std::initializer_list<const char*> keys) {
    std::string list;
    for (const char* k : keys) {
        list += (list.empty() ? "" : ", ") + std::string(k);
    }
    return list;
}

std::string Shown(double v) {
    std::ostringstream text;
    text << v;
    return text.str();
}

}  // namespace

std::string DescribeJson(const PatchJson& value) {
    constexpr std::size_t kLongestQuoted = 40;
    switch (value.type()) {
        case PatchJson::value_t::object:
            return "an object";
        case PatchJson::value_t::array:
            return "a list";
        case PatchJson::value_t::string: {
            const auto& text = value.get_ref<const std::string&>();
            if (text.size() <= kLongestQuoted) {
                return "the text " + value.dump();
            }
            std::size_t end = kLongestQuoted;
            while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
                --end;
            }
            return "the text " + PatchJson(text.substr(0, end)).dump() + " (cut here)";
        }
        case PatchJson::value_t::null:
            return "null";
        default:
            return value.dump();
    }
}

void CJsonChecker::Fail(const std::string& path, std::string what, const std::string& near) {
    std::size_t line = where_.LineOf(path);
    if (line == 0) {
        line = std::max<std::size_t>(where_.LineOf(near), 1);
    }
    problems_.push_back({line, path, std::move(what)});
}

bool CJsonChecker::Object(const PatchJson& value, const std::string& path,
                          std::initializer_list<const char*> keys, const char* whose) {
    if (!value.is_object()) {
        Fail(path, std::string("must be ") + whose + " (an object), not " + DescribeJson(value));
        return false;
    }
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return it.key() == k; })) {
            Fail(JsonPathMember(path, it.key()),
                 std::string("unknown key; the keys of ") + whose + " are " + KeyList(keys));
        }
    }
    return true;
}

const PatchJson* CJsonChecker::Get(const PatchJson& object, const std::string& path, const char* k,
                                   bool required) {
    const auto found = object.find(k);
    if (found != object.end()) {
        return &*found;
    }
    if (required) {
        Fail(JsonPathMember(path, k), "missing", path);
    }
    return nullptr;
}

bool CJsonChecker::IntValue(const PatchJson& value, const std::string& at, std::int64_t lo,
                            std::int64_t hi, std::int32_t& out) {
    const std::string range =
        "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
    if (!value.is_number_integer()) {
        Fail(at, "must be " + range + ", not " + DescribeJson(value));
        return false;
    }
    // An unsigned number may lie beyond the signed range.
    const bool inRange = value.is_number_unsigned()
                             ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(hi) &&
                                   static_cast<std::int64_t>(value.get<std::uint64_t>()) >= lo
                             : value.get<std::int64_t>() >= lo && value.get<std::int64_t>() <= hi;
    if (!inRange) {
        Fail(at, "must be " + range + ", not " + value.dump());
        return false;
    }
    out = static_cast<std::int32_t>(value.get<std::int64_t>());
    return true;
}

bool CJsonChecker::Int(const PatchJson& object, const std::string& path, const char* k,
                       std::int64_t lo, std::int64_t hi, std::int32_t& out, bool required) {
    const PatchJson* value = Get(object, path, k, required);
    return value != nullptr && IntValue(*value, JsonPathMember(path, k), lo, hi, out);
}

bool CJsonChecker::NumberValue(const PatchJson& value, const std::string& at, double lo, double hi,
                               double& out) {
    const std::string range = "a number from " + Shown(lo) + " to " + Shown(hi);
    if (!value.is_number()) {
        Fail(at, "must be " + range + ", not " + DescribeJson(value));
        return false;
    }
    const double v = value.get<double>();
    if (!std::isfinite(v) || v < lo || v > hi) {
        Fail(at, "must be " + range + ", not " + value.dump());
        return false;
    }
    out = v;
    return true;
}

bool CJsonChecker::Number(const PatchJson& object, const std::string& path, const char* k,
                          double lo, double hi, double& out, bool required) {
    const PatchJson* value = Get(object, path, k, required);
    return value != nullptr && NumberValue(*value, JsonPathMember(path, k), lo, hi, out);
}

bool CJsonChecker::Flag(const PatchJson& object, const std::string& path, const char* k, bool& out,
                        bool required) {
    const PatchJson* value = Get(object, path, k, required);
    if (value == nullptr) {
        return false;
    }
    if (!value->is_boolean()) {
        Fail(JsonPathMember(path, k), "must be true or false, not " + DescribeJson(*value));
        return false;
    }
    out = value->get<bool>();
    return true;
}

bool CJsonChecker::Flag(const PatchJson& object, const std::string& path, const char* k,
                        std::int32_t& out) {
    bool flag = false;
    if (!Flag(object, path, k, flag)) {
        return false;
    }
    out = flag ? 1 : 0;
    return true;
}

bool CJsonChecker::Text(const PatchJson& value, const std::string& at, std::string& out) {
    if (!value.is_string()) {
        Fail(at, "must be text, not " + DescribeJson(value));
        return false;
    }
    out = value.get<std::string>();
    return true;
}

bool CJsonChecker::Hex(const PatchJson& value, const std::string& at,
                       std::vector<std::uint8_t>& bytes) {
    if (!value.is_string()) {
        Fail(at,
             "must be bytes in hexadecimal, as text like \"F0 7E F7\", not " + DescribeJson(value));
        return false;
    }
    std::string why;
    if (!ParseHexText(value.get_ref<const std::string&>(), bytes, why)) {
        Fail(at, why);
        return false;
    }
    return true;
}

const PatchJson* CJsonChecker::List(const PatchJson& object, const std::string& path, const char* k,
                                    std::size_t least, std::size_t most, const std::string& holds,
                                    bool required) {
    const PatchJson* value = Get(object, path, k, required);
    if (value == nullptr) {
        return nullptr;
    }
    const std::string at = JsonPathMember(path, k);
    const std::string count = least == most ? std::to_string(least)
                                            : std::to_string(least) + " to " + std::to_string(most);
    if (!value->is_array()) {
        Fail(at, "must be a list of " + count + " " + holds + ", not " + DescribeJson(*value));
        return nullptr;
    }
    if (value->size() < least || value->size() > most) {
        Fail(at, "must hold " + count + " " + holds + ", not " + std::to_string(value->size()));
        return nullptr;
    }
    return value;
}
