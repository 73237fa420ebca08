#include "json_writer.h"

#include "console_output.h"

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!firstInLevel_.empty()) {
        if (!firstInLevel_.back()) {
            text_ += ',';
        }
        firstInLevel_.back() = false;
    }
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    text_ += bracket;
    firstInLevel_.push_back(true);
}

void JsonWriter::Close(char bracket) {
    text_ += bracket;
    firstInLevel_.pop_back();
}

void JsonWriter::Key(const char* name) {
    BeforeValue();
    Quoted(name);
    text_ += ':';
    afterKey_ = true;
}

// Names and paths may hold control characters (a CR in a key name); text
// not valid as UTF-16 was already replaced when it was converted.
void JsonWriter::Quoted(const std::string& utf8) {
    text_ += '"';
    for (char c : utf8) {
        switch (c) {
            case '"':
                text_ += "\\\"";
                break;
            case '\\':
                text_ += "\\\\";
                break;
            case '\n':
                text_ += "\\n";
                break;
            case '\r':
                text_ += "\\r";
                break;
            case '\t':
                text_ += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    text_ += "\\u00";
                    text_ += "0123456789abcdef"[c >> 4];
                    text_ += "0123456789abcdef"[c & 15];
                } else {
                    text_ += c;
                }
        }
    }
    text_ += '"';
}

void JsonWriter::String(const std::wstring& text) {
    BeforeValue();
    Quoted(WideToUtf8(text));
}

void JsonWriter::String(const char* text) {
    BeforeValue();
    Quoted(text);
}

void JsonWriter::Number(std::int64_t value) {
    BeforeValue();
    text_ += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
}

void JsonWriter::Null() {
    BeforeValue();
    text_ += "null";
}
