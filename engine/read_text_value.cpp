#include "read_text_value.h"

RegResult ReadTextValue(RegKey key, const char* valueName, ValueText& text) {
    text.Clear();
    unsigned char data[ValueText::capacity()];
    std::uint32_t type = REG_TYPE_SZ;
    std::uint32_t size = sizeof data;
    RegResult result = RegistryQueryValue(key, valueName, &type, data, &size);
    if (result != REG_OK) {
        return result;
    }
    if (size > sizeof data) {
        return REG_ERROR_MORE_DATA;
    }
    if (!text.AssignData(data, size)) {
        text.Clear();
        return REG_ERROR_MORE_DATA;
    }
    return REG_OK;
}
