// Reading a patch's JSON text into a document. nlohmann's parser is driven through its event
// interface so that a refusal can name the key being read when it stopped (a number too large
// for a double is otherwise reported with no position at all), and so that a text nested far
// deeper than any patch is refused at once instead of being built: such a document costs memory
// in proportion to its depth and, checked or printed, could run the stack out.

#include <algorithm>

#include "tamborex/storage/json_locations.h"
#include "tamborex/storage/patch_json_internal.h"

namespace {

// nlohmann's text for an error, without its own prefix ("[json.exception.parse_error.101] parse
// error at line 1, column 2: "): the line is given apart.
std::string ErrorText(const std::string& what) {
    const std::size_t column = what.find("column ");
    if (column != std::string::npos) {
        const std::size_t colon = what.find(": ", column);
        if (colon != std::string::npos) {
            return what.substr(colon + 2);
        }
    }
    const std::size_t bracket = what.find("] ");
    return bracket == std::string::npos ? what : what.substr(bracket + 2);
}

// The offset of the first '[' or '{' that opens a container deeper than kMaxJsonDepth, outside
// strings; npos when there is none.
std::size_t FirstTooDeep(std::string_view text) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonDepth) {
                return i;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return std::string_view::npos;
}

// Builds the document as nlohmann's own parser does, keeping the path of the value being read.
class CTrackingReader {
  public:
    CTrackingReader(PatchJson& root, std::string_view text, CPatchJsonProblem& problem)
        : dom_(root, false), text_(text), problem_(problem) {}

    bool null() { return Element() && dom_.null(); }
    bool boolean(bool v) { return Element() && dom_.boolean(v); }
    bool number_integer(PatchJson::number_integer_t v) {
        return Element() && dom_.number_integer(v);
    }
    bool number_unsigned(PatchJson::number_unsigned_t v) {
        return Element() && dom_.number_unsigned(v);
    }
    bool number_float(PatchJson::number_float_t v, const PatchJson::string_t& s) {
        return Element() && dom_.number_float(v, s);
    }
    bool string(PatchJson::string_t& v) { return Element() && dom_.string(v); }
    bool binary(PatchJson::binary_t& v) { return Element() && dom_.binary(v); }
    bool start_object(std::size_t n) { return Element() && Enter(false) && dom_.start_object(n); }
    bool key(PatchJson::string_t& k) {
        frames_.back().key = k;
        frames_.back().keyed = true;
        return dom_.key(k);
    }
    bool end_object() {
        frames_.pop_back();
        return dom_.end_object();
    }
    bool start_array(std::size_t n) { return Element() && Enter(true) && dom_.start_array(n); }
    bool end_array() {
        frames_.pop_back();
        return dom_.end_array();
    }
    bool parse_error(std::size_t position, const std::string& /*token*/,
                     const nlohmann::detail::exception& error) {
        // position is the count of characters read, up to and including the one at fault.
        problem_.line = LineAtOffset(text_, position == 0 ? 0 : position - 1);
        // A number no double holds stopped the parser at a value of its own: name the key it
        // belongs to. A syntax error may fall between values, where no key is meant.
        constexpr int kNumberOverflow = 406;
        if (error.id == kNumberOverflow) {
            (void)Element();
            problem_.key = Path();
            problem_.what = "the number is too large (" + ErrorText(error.what()) + ")";
        } else {
            problem_.what = "not valid JSON: " + ErrorText(error.what());
        }
        return false;
    }

  private:
    struct Frame {
        bool array = false;
        bool keyed = false;
        std::size_t count = 0;  // the elements of an array begun so far
        std::string key;
    };

    // A value begins: in a list, it is the next element.
    bool Element() {
        if (!frames_.empty() && frames_.back().array) {
            ++frames_.back().count;
        }
        return true;
    }

    bool Enter(bool array) {
        if (frames_.size() >= kMaxJsonDepth) {
            problem_.line = LineAtOffset(text_, FirstTooDeep(text_));
            problem_.key = Path();
            problem_.what = "lists and objects are nested more than " +
                            std::to_string(kMaxJsonDepth) +
                            " deep here; a patch's text nests 8 deep at most";
            return false;
        }
        frames_.push_back({array, false, 0, {}});
        return true;
    }

    std::string Path() const {
        std::string path;
        for (const Frame& frame : frames_) {
            if (frame.array && frame.count > 0) {
                path = JsonPathIndex(path, frame.count - 1);
            } else if (!frame.array && frame.keyed) {
                path = JsonPathMember(path, frame.key);
            }
        }
        return path;
    }

    nlohmann::detail::json_sax_dom_parser<PatchJson> dom_;
    std::string_view text_;
    CPatchJsonProblem& problem_;
    std::vector<Frame> frames_;
};

}  // namespace

bool ParsePatchJson(std::string_view text, PatchJson& root, CPatchJsonProblem& problem) {
    problem = {};
    CTrackingReader reader(root, text, problem);
    bool parsed = false;
    try {
        parsed = PatchJson::sax_parse(text.begin(), text.end(), &reader);
    } catch (const PatchJson::exception& error) {
        problem = {1, {}, "not valid JSON: " + ErrorText(error.what())};
        return false;
    }
    if (!parsed && problem.what.empty()) {
        problem = {1, {}, "not valid JSON"};
    }
    if (!parsed) {
        root = PatchJson();
    }
    return parsed;
}
