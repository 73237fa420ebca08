// Just enough JSON for one report: objects, arrays, strings, integers,
// booleans and null, written in order as UTF-8, commas placed by the writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class JsonWriter {
  public:
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // The name of the next member of the object being written.
    void Key(const char* name);
    void String(const std::wstring& text);
    void String(const char* text);
    void Number(std::int64_t value);
    void Bool(bool value);
    void Null();

    const std::string& text() const { return text_; }

  private:
    void Open(char bracket);
    void Close(char bracket);
    void BeforeValue();
    void Quoted(const std::string& utf8);

    std::string text_;
    std::vector<bool> firstInLevel_;
    bool afterKey_ = false;
};
