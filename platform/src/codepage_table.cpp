#include "codepage_table.h"

#include "platform/codepage.h"

namespace platform::codepage_table {

Offered LookUp(unsigned codePage) {
    switch (codePage) {
        case kUtf8CodePage:
            return {Kind::kUtf8, "UTF-8"};
        case 932:
        case 936:
        case 949:
        case 950:
            return {Kind::kMultiByte, "CP" + std::to_string(codePage)};
        case 20127:
            return {Kind::kSingleByte, "ASCII"};
        case 20866:
            return {Kind::kSingleByte, "KOI8-R"};
        case 21866:
            return {Kind::kSingleByte, "KOI8-U"};
        case 437:
        case 737:
        case 775:
        case 850:
        case 852:
        case 855:
        case 857:
        case 860:
        case 861:
        case 862:
        case 863:
        case 864:
        case 865:
        case 866:
        case 869:
        case 874:
            return {Kind::kSingleByte, "CP" + std::to_string(codePage)};
        default:
            break;
    }
    if (codePage >= 1250 && codePage <= 1258)
        return {Kind::kSingleByte, "CP" + std::to_string(codePage)};
    if (codePage >= 28591 && codePage <= 28606 && codePage != 28600 && codePage != 28602)
        return {Kind::kSingleByte, "ISO-8859-" + std::to_string(codePage - 28590)};
    return {};
}

}  // namespace platform::codepage_table
