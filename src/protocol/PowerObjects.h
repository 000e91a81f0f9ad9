// Power data objects (PDOs, APDOs) and request data objects (RDOs): the Description column texts of the
// capabilities and request messages, the field lists of each object kind and the choice of list per object.
#pragma once

#include "FieldSegments.h"
#include "PDField.h"

#include <cstdint>
#include <string>

class CCCPacket;

// Value tables.
extern const PDValueText kPdoKindValues[]; // the four object kinds, APDO included
extern const PDValueText
    kPdoKindNoApdoValues[];                   // Fixed, Battery and Variable only (revision 2.0 fixed lists)
extern const PDValueText kApdoKindValues[];   // SPR PPS, EPR AVS, SPR AVS; sub-kind 3 has no text
extern const PDValueText kFrsCurrentValues[]; // Fast Role Swap current of a sink fixed object
extern const PDValueText k50mVValues[];
extern const PDValueText k100mVValues[];
extern const PDValueText k25mVValues[];
extern const PDValueText k20mVValues[];
extern const PDValueText k10mAValues[];
extern const PDValueText k50mAValues[];
extern const PDValueText k250mWValues[];
extern const PDValueText k1WValues[];

// PDO lists, one 32-bit object each. Source and sink lists of revision 3.0 serve messages whose revision
// field is 2 or 3 and every object of an EPR message; the 2.0 lists serve revision fields 0 and 1. Only
// the fixed object has revision variants.
extern const PDFieldDesc kFixedSourceRev30Fields[];
extern const PDFieldDesc kFixedSourceRev20Fields[];
extern const PDFieldDesc kFixedSinkRev30Fields[];
extern const PDFieldDesc kFixedSinkRev20Fields[];
extern const PDFieldDesc kVariableSourceFields[];
extern const PDFieldDesc kVariableSinkFields[];
extern const PDFieldDesc kBatterySourceFields[];
extern const PDFieldDesc kBatterySinkFields[];
extern const PDFieldDesc kSprPpsSourceFields[];
extern const PDFieldDesc kSprPpsSinkFields[];
extern const PDFieldDesc kEprAvsSourceFields[];
extern const PDFieldDesc kEprAvsSinkFields[];
extern const PDFieldDesc kSprAvsSourceFields[];
extern const PDFieldDesc kSprAvsSinkFields[];
extern const PDFieldDesc kUnknownApdoSourceFields[];
extern const PDFieldDesc kUnknownApdoSinkFields[];

// RDO lists, chosen by the kind of the PDO the request selects, its GiveBack flag and the request's
// revision field (EPR_Request: always 3.0).
extern const PDFieldDesc kCurrentRequestRev20GiveBack0Fields[];
extern const PDFieldDesc kCurrentRequestRev20GiveBack1Fields[];
extern const PDFieldDesc kCurrentRequestRev30GiveBack0Fields[];
extern const PDFieldDesc kCurrentRequestRev30GiveBack1Fields[];
extern const PDFieldDesc kPowerRequestRev20GiveBack0Fields[];
extern const PDFieldDesc kPowerRequestRev20GiveBack1Fields[];
extern const PDFieldDesc kPowerRequestRev30GiveBack0Fields[];
extern const PDFieldDesc kPowerRequestRev30GiveBack1Fields[];
extern const PDFieldDesc kProgrammableRequestFields[];
extern const PDFieldDesc kAvsRequestFields[];
extern const PDFieldDesc kUnknownApdoRequestFields[];

// An EPR_Request too short to hold its PDO copy: the two words as plain fields (64 bits).
extern const PDFieldDesc kEprRequestFallbackFields[];

// Description column texts.
// Source_Capabilities (sink false) and Sink_Capabilities data messages.
std::string DescribeCapabilities(const CCCPacket& p, bool sink);
// EPR_Source_Capabilities and EPR_Sink_Capabilities: built on the first chunk only, over the data block.
std::string DescribeEprCapabilities(const CCCPacket& p, bool sink);
// Request (epr false) and EPR_Request.
std::string DescribeRequest(const CCCPacket& p, bool epr);

// Field-table segments.
// `count` objects of 32 bits from view bit `firstBit`, each with the source (sink) list chosen from the
// object's own bits. An object that does not lie wholly within the view's data gets a segment without a
// list, so nothing past the data is read.
void AddCapabilitiesSegments(CSegmentList& out, const CFieldView& view, int32_t firstBit, int count,
                             bool sink, bool rev30);
// Request: one RDO segment at bit 16 when the selected PDO is known, else none. EPR_Request: the RDO at 16
// and its PDO copy at 48, or the fallback list at 16 when the copy is missing.
void AddRequestSegments(CSegmentList& out, const CCCPacket& p, bool epr);
