// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text of a session message, block by block. Senders put the text in the
// OEM code page; Samba's client sends a block it cannot convert to that page
// (one holding a character such as the euro sign that the page lacks) as it has
// it, in UTF-8. Read as OEM, such a block is nonsense ("5 Ôé¼" for "5 €").
//
// The rule: a block that is valid UTF-8 and holds at least one multi-byte
// sequence is taken as UTF-8 and converted to the OEM page; any other block is
// OEM as it stands. Text really written in an OEM page practically never reads
// as such UTF-8: a multi-byte sequence needs a byte from 0xC2-0xF4 (box drawing
// and capitals in the OEM pages) followed by bytes from 0x80-0xBF (lower-case
// accented letters and more box drawing), while an accented letter on its own,
// or next to plain letters, breaks the sequence rules at once. The client cuts
// text into blocks by bytes, so a sequence may be cut at a block's end: a UTF-8
// block that ends in the first bytes of one carries them on to the next block.
#include <functional>
#include <string>
#include <string_view>

namespace pling::net {

// UTF-8 to the OEM code page (what the page lacks as the page's replacement).
using TFromUtf8 = std::function<std::string(std::string_view utf8)>;

// How many leading bytes of `text` are whole UTF-8 sequences, when all of
// `text` is valid UTF-8 but for the first bytes of a sequence cut at its end;
// npos when it is not. `multiByte` says whether a sequence of 2 or more bytes is
// among the whole ones.
std::size_t Utf8Prefix(std::string_view text, bool& multiByte);

class TSessionText {
 public:
  // Without `fromUtf8`, blocks are joined as they are.
  explicit TSessionText(TFromUtf8 fromUtf8 = {}) : FFromUtf8(std::move(fromUtf8)) {}
  void Add(std::string_view block);
  // The bytes of text so far (as received; for the size limit).
  std::size_t Received() const { return FReceived; }
  // The whole text in the OEM page; the text is then empty again.
  std::string Take();

 private:
  TFromUtf8 FFromUtf8;
  std::string FText;
  std::string FCarry;  // the start of a UTF-8 sequence cut at the last block's end
  std::size_t FReceived = 0;
};

}  // namespace pling::net
