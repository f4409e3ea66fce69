#include "json_object_writer.h"

#include "json_string.h"

namespace tevoli {

JsonObjectWriter& JsonObjectWriter::addJson(std::string_view key, std::string_view json) {
    if (out_.size() > 1) out_ += ',';
    out_ += '"';
    out_ += key;
    out_ += "\":";
    out_ += json;
    return *this;
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view key, bool value) {
    return addJson(key, value ? "true" : "false");
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view key, std::int64_t value) {
    return addJson(key, std::to_string(value));
}

JsonObjectWriter& JsonObjectWriter::add(std::string_view key, std::string_view text) {
    return addJson(key, jsonString(text, JsonStringForm::reply));
}

}  // namespace tevoli
