// The serial port list read from HARDWARE\DEVICEMAP\SERIALCOMM. The test
// plays the serial driver: it writes values of its own there (Wine lets a
// program do so) and removes them at the end.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "com_ports.h"

namespace {

constexpr wchar_t kKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

class SerialCommPorts : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        for (const std::wstring& name : added_)
            RegDeleteValueW(key_, name.c_str());
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    void Add(const std::wstring& name, const std::wstring& port, DWORD type = REG_SZ) {
        ASSERT_EQ(
            RegSetValueExW(key_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(port.c_str()),
                           static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
        added_.push_back(name);
    }
    static bool Has(const std::vector<unsigned>& ports, unsigned number) {
        return std::find(ports.begin(), ports.end(), number) != ports.end();
    }
    HKEY key_ = nullptr;
    std::vector<std::wstring> added_;
};

TEST_F(SerialCommPorts, ListsTheDriversPortsInOrderAndSkipsOtherValues) {
    Add(L"\\Device\\SuiteSerial231", L"COM231");
    Add(L"\\Device\\SuiteSerial17", L"com17");
    // Two names of one port, as after a driver reinstall: listed once.
    Add(L"\\Device\\SuiteSerial17b", L"COM17");
    Add(L"\\Device\\SuiteNotAPort", L"LPT9");
    Add(L"\\Device\\SuiteBinary", L"COM232", REG_BINARY);
    const std::vector<unsigned> ports = tidestream::ListSerialCommPorts();
    EXPECT_TRUE(Has(ports, 231));
    EXPECT_TRUE(Has(ports, 17));
    EXPECT_FALSE(Has(ports, 232)) << "a value that is no text is no port";
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
    EXPECT_EQ(std::adjacent_find(ports.begin(), ports.end()), ports.end());
}

TEST_F(SerialCommPorts, APortRemovedIsNoLongerListed) {
    Add(L"\\Device\\SuiteSerial233", L"COM233");
    ASSERT_TRUE(Has(tidestream::ListSerialCommPorts(), 233));
    ASSERT_EQ(RegDeleteValueW(key_, L"\\Device\\SuiteSerial233"), ERROR_SUCCESS);
    added_.clear();
    EXPECT_FALSE(Has(tidestream::ListSerialCommPorts(), 233));
}

}  // namespace
