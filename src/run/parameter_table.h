#pragma once
// One entry per field of FormValues: how it is read and written as text, its command-line
// option, its window control (sheet, place, caption, tip) and whether the slices of one run
// must agree on it. The command line, the window's controls and read-out, the slice
// manifest and the join's comparison all loop over this table; defaults live only in
// FormValues' initialisers.
#include "run/form_values.h"

#include <functional>
#include <string>
#include <vector>

namespace quenlith {

enum class ParameterKind {
    Text,        // an edit box; the option takes its text
    Flag,        // a check box; the option (if any) sets it to flagValue
    CheckedText, // an edit box whose option also ticks its check box (checkField)
    Choice,      // one of choices; stored in the manifest as the enum's number
    Number,      // a whole number of the command line only
};

enum class ParameterTab { Main, Sequence, Microsatellite, Demographics, Files, None };

struct ParameterChoice {
    const char* text; // as typed on the command line
    int value;        // the enum's number
    // In the window: the name of its radio button ("" in a list), the caption of its radio
    // button or list item, and where a radio button stands on its sheet.
    const char* control = "";
    const char* caption = "";
    int x = 0, y = 0, width = 0;
};

// How a choice is shown: a drop-down list, radio buttons placed one by one, or radio buttons
// side by side in a titled box.
enum class ChoiceControl { List, Radios, RadioBox };

// Where an entry's window control stands on its sheet, in pixels. An edit box with a caption
// has a label of that text before it (or above it).
struct ParameterPlace {
    int x = 0, y = 0;
    int width = 0;          // 0: the kind's usual width
    int height = 0;         // 0: the kind's usual height
    const char* label = ""; // the label's name; "" when the control has no label
    int labelX = 8, labelY = 0, labelWidth = 158;
    const char* tip = "";     // the control's tool tip
    const char* control = ""; // a choice's list, box or button group
    ChoiceControl choice = ChoiceControl::List;
};

struct ParameterEntry {
    const char* field; // the FormValues member's name; the manifest's key
    ParameterKind kind;
    const char* option;           // "" when the command line has none
    const char* argument;         // "T", "FILE", "M"...; "" for a flag
    const char* help;             // the --help text
    ParameterTab tab;             // where its window control is (None: no control)
    const char* caption;          // the control's caption, an edit box's label, a choice's title
    bool slicesAgree;             // every slice of one run must have the same value
    bool inManifest;              // written into a slice's manifest
    bool flagValue = true;        // Flag: the value its option sets
    const char* checkField = "";  // CheckedText: the check box its option ticks
    const char* defaultNote = ""; // --help's default when not derived from the value
    std::vector<ParameterChoice> choices = {};
    ParameterPlace place = {}; // its window control (a tab other than None)
    // The field as text (flags "1"/"0", choices the enum's number) and set from that text.
    std::function<std::string(const FormValues&)> get = {};
    std::function<bool(FormValues&, const std::string&)> set = {};
};

const std::vector<ParameterEntry>& parameterTable();

// The entry of a field, or nullptr.
const ParameterEntry* findParameter(const std::string& field);

// The default of a field as text (from a default FormValues).
std::string parameterDefault(const std::string& field);

// --help's default of an entry: the value, "checked"/"unchecked", or its note.
std::string parameterDefaultHelp(const ParameterEntry& e);

// Whether a text field is read by the run as a whole number, a real number or neither.
enum class ParameterNumber { None, Whole, Real };
ParameterNumber parameterNumber(const ParameterEntry& e);

// The command line's strict reading of numbers: the whole text (blanks around it apart) is a
// decimal whole number within 32 bits, or a real number with an optional exponent.
bool strictWholeNumber(const std::string& text);
bool strictRealNumber(const std::string& text);
// An error naming the text when a numeric field's option text is not such a number.
std::string checkNumberText(const ParameterEntry& e, const std::string& v);

// Sets a field from its option's argument (or, for a flag, from nothing). Returns an error
// text, empty on success.
std::string applyParameterOption(const ParameterEntry& e, FormValues& f, const std::string& v);

// The option and argument that give a field value v, empty when the field has none;
// for a flag, the option alone.
std::vector<std::string> parameterOptionWords(const ParameterEntry& e, const FormValues& f);

// The number of fields of FormValues, counted by aggregate initialisation; the tests compare
// it with the table.
template <typename T> struct AnyField { template <typename U> operator U() const; };
template <typename T, typename... A> constexpr size_t aggregateFieldCount() {
    if constexpr (requires { T{A{}..., AnyField<T>{}}; })
        return aggregateFieldCount<T, A..., AnyField<T>>();
    else
        return sizeof...(A);
}

} // namespace quenlith
