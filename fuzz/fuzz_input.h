// The fuzzer's input: a small program that builds an in-memory registry and
// says how the repair runs on it. Random bytes decode to some registry;
// the seed corpus encodes the scenario files.
//
// Byte 0: bit 0 diagnostic mode, bit 1 the answer to the question (yes).
// Then commands, each an opcode byte (taken modulo kCommandCount):
//   key     root-byte path      current = the key at root\path (created)
//   child   name                current = its subkey name (created)
//   up      n                   current = n levels up
//   value   name type data      a value of current
//   allow   mask                the only rights current grants
//   inject  op nth:u16 code     the nth call of op fails with code
//   chain   depth:u16 name      a chain of that many keys below current;
//                               current = the deepest
//   fan     count:u16 name      count subkeys of current, name + number
//   product sid code flags name version productName
//                               both keys of one product; current = the
//                               installer data key
// A name is a kind byte, low two bits: 0 literal (length byte, bytes),
// 1 repeat (byte, length byte), 2 a word of the dictionary (index byte),
// 3 a product code made of a 16-bit number; bits 2-3 change letter case.
// Key names are never empty and never hold a backslash or line feed; they
// may hold a NUL, as names made through the native API do.
// A path is a count byte and that many names; a word may hold backslashes.
// Data is a kind byte: 0 literal (u16 length, bytes), 1 a word, 2 a word
// and its NUL, 3 repeat (byte, u16 length), 4 "1.11.00" and two bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "memory/memory_registry.h"

struct FuzzSettings {
    bool diagnostic = false;
    std::vector<bool> answers;
};

// Builds registry from the input; stays within fixed bounds of keys and
// bytes whatever the input. directives (may be null) receives the access
// rules and injected failures as scenario directives ("allow: ...").
FuzzSettings BuildFuzzRegistry(const std::uint8_t* data, std::size_t size, MemoryRegistry& registry,
                               std::vector<std::string>* directives = nullptr);

// Writing inputs, for the seed corpus.
class FuzzInputWriter {
  public:
    FuzzInputWriter(bool diagnostic, bool answerYes);

    void Key(RegKey root, const std::string& path);
    void Value(const std::string& name, std::uint32_t type, const std::string& data);
    void Allow(std::uint32_t mask);
    void Inject(RegOperation op, std::uint16_t nth, RegResult code);
    void Chain(std::uint16_t depth, const std::string& name);
    void Fan(std::uint16_t count, const std::string& name);
    void Child(const std::string& name);
    void Up(std::uint8_t levels);

    const std::string& bytes() const { return bytes_; }

  private:
    void Name(const std::string& name);
    void Byte(std::uint32_t value) { bytes_ += static_cast<char>(value & 0xFF); }
    void U16(std::uint32_t value) {
        Byte(value);
        Byte(value >> 8);
    }
    void U32(std::uint32_t value) {
        U16(value);
        U16(value >> 16);
    }
    std::string bytes_;
};
