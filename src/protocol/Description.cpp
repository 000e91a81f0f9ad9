// The Description column: one text per message, from the message family that knows it.
#include "CCPacket.h"
#include "ExtendedMessages.h"
#include "OtherData.h"
#include "PowerObjects.h"
#include "VendorDefined.h"

std::string CCCPacket::GetDescriptionText() const {
    if (!IsMessageKind(kind)) return {};
    const int code = GetMessageTypeCode();
    if (IsExtendedMessage()) {
        switch (code) {
        case 17: return DescribeEprCapabilities(*this, false);
        case 18: return DescribeEprCapabilities(*this, true);
        default: return DescribeExtended(*this);
        }
    }
    if (!IsDataMessage()) return {};
    switch (code) {
    case 1: return DescribeCapabilities(*this, false);
    case 4: return DescribeCapabilities(*this, true);
    case 2: return DescribeRequest(*this, false);
    case 9: return DescribeRequest(*this, true);
    case 15: return DescribeVendorDefined(*this);
    default: return DescribeOtherData(*this);
    }
}
