#pragma once

#include "expr/Tensor.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace zyl {

/// Appends the text of `node` in the language's own notation, with as few brackets as the
/// precedence levels allow; the text reads back as the same tree. Never writes blanks.
void printExpression(const Tensor& node, std::string& out, int parentLevel = 0);

/// The printed text of a tree.
std::string printToString(const Tensor& node);

/// Tells whether two trees print to the same text without printing them: each subtree's
/// printed text is summed up in a digest, computed once and remembered, so that comparing
/// many overlapping subtrees of one tree costs time linear in its size. Texts are printed
/// only to confirm a match.
/// NOTE: digests are remembered by node address, so a node must not be compared after its
/// subtree has changed, nor a new node that may sit at the address of a destroyed one. The
/// simplifier keeps to this by taking a new comparer for each pass: a pass compares the
/// operands of a node before it rewrites anything below that node, and never compares a
/// node that the pass has made.
class PrintComparer {
public:
    bool samePrint(const Tensor& a, const Tensor& b);

    struct Digest {
        std::uint64_t hash = 0;
        std::uint64_t power = 1;
    };

private:
    struct DigestSink;
    Digest digest(const Tensor& node);

    std::unordered_map<const Tensor*, Digest> m_digests;
};

} // namespace zyl
