// The router's traffic monitor ("torch") handler: one query command whose request carries the
// filter and whose reply lists the flows seen in the last second with their rates. The client
// asks again after each reply. Described in docs/protocol-terminal.md.
#pragma once

#include "api/wire/Message.h"

#include <cstdint>
#include <vector>

namespace kestel {

inline const std::vector<uint32_t> kTorchHandler{77};
inline constexpr uint32_t kTorchQuery = 0xA0070;

// Filter fields of the query; an absent field matches everything.
inline constexpr nv::string_id kTorchPort{1};       // the interface watched
inline constexpr nv::u32_id kTorchProtocol{2};      // IP protocol number
inline constexpr nv::string_id kTorchSrcAddress{3}; // address or prefix ("198.18.0.0/16")
inline constexpr nv::u32_id kTorchSrcPort{4};
inline constexpr nv::string_id kTorchDstAddress{5};
inline constexpr nv::u32_id kTorchDstPort{6};
inline constexpr nv::u32_id kTorchVlan{7};

// Fields of each flow in STD_OBJS of the reply.
inline constexpr nv::u32_id kFlowProtocol{1};
inline constexpr nv::string_id kFlowSrcAddress{2};
inline constexpr nv::u32_id kFlowSrcPort{3};
inline constexpr nv::string_id kFlowDstAddress{4};
inline constexpr nv::u32_id kFlowDstPort{5};
inline constexpr nv::u32_id kFlowVlan{6};      // absent: untagged
inline constexpr nv::u64_id kFlowTxBits{7};    // bits per second, source to destination
inline constexpr nv::u64_id kFlowRxBits{8};    // bits per second, back
inline constexpr nv::u32_id kFlowTxPackets{9}; // packets per second
inline constexpr nv::u32_id kFlowRxPackets{10};

// Flows one reply holds at most; the router keeps the busiest.
inline constexpr size_t kTorchMaxFlows = 1000;

} // namespace kestel
