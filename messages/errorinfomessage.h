#pragma once
// The outcome of a request travels back in the reply area of the request's own block: the
// state, the handles of one string block per text, the failure code and the result's wire
// value. The receiver of a request writes it; the sender applies it to its waiting message.

#include <cstdint>
#include <span>

#include "iinvokemanagementservice.h"
#include "messages/cinvokemessagebase.h"
#include "messages/cmethodcallmessage.h"
#include "messages/sharedmemory.h"

namespace tarnwick {

// Writes the message's outcome into the request block, copies the block's first 432 bytes
// into a new reply block and fills the reply record with it. 1 when a reply was made; 0 when
// the message is still pending or in an unknown state, or when no reply block could be made
// (traced; nothing is left behind). A completed call's result moves into shared memory.
int MarshalReply(InvokeRecord& reply, std::span<std::uint8_t> request, CInvokeMessageBase& message);

// Copies the outcome of a reply block into the message: cookie, state and, by the state, the
// result or the texts. 0 (traced, message unchanged) when the block is too short for a reply.
// The result comes from another process and is restored as such; `received` names the
// blocks it may not take.
int ApplyReply(std::span<const std::uint8_t> reply, CMethodCallMessage& message,
               CReceivedBlocks& received);
int ApplyReply(std::span<const std::uint8_t> reply, CMethodCallMessage& message);

// ApplyReply, then destroys every string block the reply names and clears its handle.
// `held` names the reply's own block and any other its receiver holds: none may be named.
int ApplyReplyAndFree(std::span<std::uint8_t> reply, CMethodCallMessage& message,
                      CReceivedBlocks held = {});

// Frees what a reply that no waiting message takes names: its texts and its result's payload.
void DiscardReply(std::span<std::uint8_t> reply, CReceivedBlocks held);

}  // namespace tarnwick
