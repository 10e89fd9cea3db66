// The text steps of the identity operations: short and missing pieces give
// empty texts, long ones are cut, nothing is read or written out of bounds.
#include <gtest/gtest.h>

#include <string>

#include "identity_parts.h"

namespace {

TEST(OpsIdentityParts, SerialPartOfAnIdentificationText) {
    struct Case {
        std::string text;
        std::string serial;
    };
    const Case cases[] = {
        {"Product Name: P\r\nSerial Number: AB12\r\nOEM Serial Number: Z\r\n", " AB12"},
        {"Serial Number:\r\nOEM Serial Number: Z", ""},
        {"Serial Number:OEM Serial Number: Z", ""},  // no room for a line end
        {"Product Name: P\r\nOEM Serial Number: Z", ""},
        {"Serial Number: AB12\r\n", ""},
        {"", ""},
        {"Serial Number: " + std::string(500, 'q') + "\r\nOEM Serial Number: Z",
         " " + std::string(258, 'q')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SerialPartOf(c.text), c.serial) << c.text;
}

TEST(OpsIdentityParts, DeviceInformationWithANewMode) {
    const std::string head(
        "\x02\x01"
        "00000QRYESN",
        13);
    struct Case {
        std::string reply;
        std::string value;
    };
    const Case cases[] = {
        {head + "X:Y:Z\x06;\x03", "X:Y:M"},
        {head + ":Y:Z", ":Y:M"},
        {"short:Y:Z", ":Y:M"},  // a first piece shorter than the cut gives an empty part
        {head + "X:Y", ""},
        {head + "X:Y:", ""},  // nothing after the last ':': two pieces
        {head + "X:Y:Z:W", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeviceInfoWithMode(c.reply, "M"), c.value) << c.reply;
}

}  // namespace
