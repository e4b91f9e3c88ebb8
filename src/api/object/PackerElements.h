// The element kinds a packer is built from. Each factory takes the member of the object field,
// the message field(s) and the kind's parameters, and returns a new shared element. The member's
// type must have the field size named below, else the program stops ("api/packer"); a member of
// that size but another type makes the element skip the field. Unless a kind says otherwise,
// unpack acts only when the message holds the field, so absent fields keep their values; has()
// and unset() concern the first message field.
#pragma once

#include "api/object/Packer.h"

namespace kestel {

// bool field (1 byte) as a u32 field: pack writes 1 or 0; unpack sets value != 0.
Reference<IPackerElement> createBoolAsNumber(const member& m, nv::u32_id id);
// bool field as a bool field.
Reference<IPackerElement> createBool(const member& m, nv::bool_id id);
// bool field as the negated bool field.
Reference<IPackerElement> createInvertedBool(const member& m, nv::bool_id id);
// bool field sent only when true: pack writes true or unsets the field; unpack reads an absent
// field as false.
Reference<IPackerElement> createBoolSetOrCleared(const member& m, nv::bool_id id);
// bool field as one bit of a u32 that several elements share: pack ORs `mask` into the value
// already in the message (0 when absent) when the field is true; unpack sets (value & mask) != 0.
Reference<IPackerElement> createFlagBit(const member& m, nv::u32_id id, uint32_t mask);
// As createFlagBit with the sense reversed: the mask is set when the field is false.
Reference<IPackerElement> createInvertedFlagBit(const member& m, nv::u32_id id, uint32_t mask);
// bool field as a u32 that is `constant` when true and 0 when false; unpack: value == constant.
Reference<IPackerElement> createBoolAsConstant(const member& m, nv::u32_id id, uint32_t constant);

// u32 field (4 bytes) as a u32 field.
Reference<IPackerElement> createNumber(const member& m, nv::u32_id id);
// u32 field as a bool field: pack writes value != 0, unpack stores 0 or 1.
Reference<IPackerElement> createNumberAsBool(const member& m, nv::bool_id id);
// u32 field as a one-element u32 array; unpack takes the first element of a non-empty array.
Reference<IPackerElement> createNumberAsList(const member& m, nv::u32_array_id id);
// u32 field stored as the message value times `factor`: pack writes field / factor, unpack
// field = value * factor (modulo 2^32). A factor of 0 comes from a faulty descriptor and is
// treated as 1, logged as "ERROR:".
Reference<IPackerElement> createScaledNumber(const member& m, nv::u32_id id, uint32_t factor);
// u64 field (8 bytes) as a u64 field, or as a one-element u64 array.
Reference<IPackerElement> createBigNumber(const member& m, nv::u64_id id);
Reference<IPackerElement> createBigNumberAsList(const member& m, nv::u64_array_id id);
// NumberPair field (mbr_type_NumberPair) as a two-element u32 array. Unpack: an empty array
// changes nothing, one element sets both numbers, two or more set first and second.
Reference<IPackerElement> createNumberPairAsList(const member& m, nv::u32_array_id id);

// 16-byte address field as an addr6 field.
Reference<IPackerElement> createAddress(const member& m, nv::addr6_id id);
// 20-byte field: a 16-byte address followed by a u32 prefix length, as an addr6 field and a u32
// field. Unpack reads the prefix with the field's value as default and stores 0xFFFFFFFF as 0.
Reference<IPackerElement> createAddressWithPrefix(const member& m, nv::addr6_id address,
                                                  nv::u32_id prefix);

// std::string field (mbr_type_string) as a string field.
Reference<IPackerElement> createText(const member& m, nv::string_id id);
// std::vector<uint8_t> field (mbr_type_Raw) as a raw field.
Reference<IPackerElement> createRawBytes(const member& m, nv::raw_id id);
// nv::message field (mbr_type_Message) as a nested message field.
Reference<IPackerElement> createMessage(const member& m, nv::message_id id);

// List fields as arrays of the same kind: std::vector<uint32_t> (mbr_type_Array),
// std::vector<uint64_t> (mbr_type_BigArray), std::vector<nv::addr6> (mbr_type_AddressArray),
// std::vector<std::string> (mbr_type_StringArray), std::vector<std::vector<uint8_t>>
// (mbr_type_RawArray). Pack writes every element.
Reference<IPackerElement> createNumberList(const member& m, nv::u32_array_id id);
Reference<IPackerElement> createBigNumberList(const member& m, nv::u64_array_id id);
Reference<IPackerElement> createAddressList(const member& m, nv::addr6_array_id id);
Reference<IPackerElement> createTextList(const member& m, nv::string_array_id id);
Reference<IPackerElement> createRawList(const member& m, nv::raw_array_id id);

} // namespace kestel
