#pragma once
// Many patterns found in one pass over a text (an Aho-Corasick automaton over UTF-16 units), so that the
// cost of testing a header field grows with the length of the field, not with the number of rules.
// Units are compared as they are: fold texts and patterns with FoldCase for a case-blind search.
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <vector>

class TPatternSet {
public:
    // What one scan found of one pattern.
    struct Hit {
        qsizetype First = -1;     // position of the first occurrence; -1 when the pattern does not occur
        bool BeforeBlank = false; // some occurrence is directly followed by a blank
    };

    // A table of next states for every state and every unit the patterns use is fastest; a pathological
    // rule list (many long patterns made of many different characters) would make it huge, so above this
    // many entries the automaton walks its sparse edges instead.
    static constexpr size_t kDenseLimit = size_t(1) << 20;

    // Adds a pattern before Build and returns its number, counted from 0; the same pattern added again
    // keeps its number. An empty pattern is refused with -1.
    int Add(QStringView pattern);
    // Makes the automaton; call once, after the last Add.
    void Build(size_t denseLimit = kDenseLimit);

    int Count() const { return int(m_length.size()); }
    bool IsDense() const { return !m_dense.empty(); }

    // Fills hits (one per pattern, by number) from one pass over text.
    void Scan(QStringView text, std::vector<Hit> &hits) const;

private:
    struct Edge {
        char16_t Unit;
        uint32_t Node;
    };
    struct Node {
        std::vector<Edge> Edges; // while adding; sorted by unit in Build
        int32_t Pattern = -1;    // the pattern that ends here
    };

    uint32_t symbolOf(char16_t unit) const;
    uint32_t child(uint32_t node, uint32_t symbol) const;
    uint32_t next(uint32_t state, uint32_t symbol) const;

    std::vector<Node> m_nodes = std::vector<Node>(1); // 0 is the root
    std::vector<uint32_t> m_length;

    // Units of the patterns as symbols 1..m_symbols-1; 0 stands for every other unit.
    uint32_t m_symbols = 1;
    uint32_t m_ascii[128] = {};
    std::vector<char16_t> m_wideUnits; // sorted
    std::vector<uint32_t> m_wideSymbols;

    std::vector<uint32_t> m_fail;
    std::vector<int32_t> m_firstOut; // the node itself or the nearest one on its fail chain ending a pattern
    std::vector<int32_t> m_outLink;  // the nearest node on the fail chain (itself excluded) ending a pattern

    std::vector<uint32_t> m_dense;   // next state by state * m_symbols + symbol
    // The sparse form: edges by symbol, each node's edges from m_edgeStart[node] to m_edgeStart[node + 1].
    std::vector<uint32_t> m_edgeStart;
    std::vector<uint32_t> m_edgeSymbol;
    std::vector<uint32_t> m_edgeNode;
    std::vector<uint32_t> m_rootRow;
};
