#include "StructListing.h"

#include "TextRecords.h"

#include <cstddef>

namespace {

std::string Field(std::size_t offset, const char* label, const char* tabs, const char* type)
{
    return std::to_string(offset) + "\t" + label + tabs + type;
}

std::string Length(std::size_t size, const char* label)
{
    return std::to_string(size) + "\t" + label;
}

} // namespace

std::vector<std::string> StructListingSendText()
{
    const char* text = ": array [1..200] of ansichar;";
    return {
        "SendText",
        Field(offsetof(tSendText, Header), "SendText.Header ", "\t\t", ": tHeader;"),
        Field(offsetof(tSendText, Color), "SendText.Color ", "\t\t", ": uint32;"),
        Field(offsetof(tSendText, ColorBack), "SendText.ColorBack ", "\t", ": uint32;"),
        Field(offsetof(tSendText, X), "SendText.X ", "\t\t", ": int16;"),
        Field(offsetof(tSendText, Y), "SendText.Y ", "\t\t", ": int16;"),
        Field(offsetof(tSendText, Font), "SendText.Font ", "\t\t", ": uint16;"),
        Field(offsetof(tSendText, Text), "SendText.Text ", "\t\t", text),
        Field(offsetof(tSendText, CR), "SendText.CR ", "\t\t", ": uint8"),
        Field(offsetof(tSendText, LF), "SendText.LF ", "\t\t", ": uint8"),
        Length(sizeof(tSendText), "Length SendText"),
        "",
    };
}

std::vector<std::string> StructListingSendTextFrame()
{
    const char* t = "\t\t";
    return {
        "SendTextFrame",
        Field(offsetof(tSendTextFrame, Header), "Header", t, ": tHeader;"),
        Field(offsetof(tSendTextFrame, Color), "Color", t, ": uint32;"),
        Field(offsetof(tSendTextFrame, ColorBack), "ColorBack", t, ": uint32;"),
        Field(offsetof(tSendTextFrame, Frame), "Frame", t, ": uint16;"),
        Field(offsetof(tSendTextFrame, Font), "Font", t, ": uint16;"),
        Field(offsetof(tSendTextFrame, Left), "Left", t, ": int16;"),
        Field(offsetof(tSendTextFrame, Top), "Top", t, ": int16;"),
        Field(offsetof(tSendTextFrame, Width), "Width", t, ": int16;"),
        Field(offsetof(tSendTextFrame, Height), "Height", t, ": int16;"),
        Field(offsetof(tSendTextFrame, StepHoriz), "StepHoriz", t, ": int8;"),
        Field(offsetof(tSendTextFrame, StepVert), "StepVert", t, ": int8;"),
        Field(offsetof(tSendTextFrame, Text), "Text", t, ": array [1..200] of ansichar;"),
        Field(offsetof(tSendTextFrame, CR), "CR", t, ": uint8;"),
        Field(offsetof(tSendTextFrame, LF), "LF", t, ": uint8;"),
        Length(sizeof(tSendTextFrame), "Length SendTextFrame"),
        "",
    };
}
