#include "PatternSet.h"

#include <QChar>

#include <algorithm>

int TPatternSet::Add(QStringView pattern)
{
    if (pattern.isEmpty())
        return -1;
    uint32_t node = 0;
    for (const QChar c : pattern) {
        const char16_t unit = c.unicode();
        std::vector<Edge> &edges = m_nodes[node].Edges;
        const auto edge = std::find_if(edges.begin(), edges.end(), [unit](const Edge &e) { return e.Unit == unit; });
        if (edge != edges.end()) {
            node = edge->Node;
            continue;
        }
        const auto added = uint32_t(m_nodes.size());
        edges.push_back({unit, added});
        m_nodes.emplace_back(); // invalidates edges
        node = added;
    }
    if (m_nodes[node].Pattern < 0) {
        m_nodes[node].Pattern = int32_t(m_length.size());
        m_length.push_back(uint32_t(pattern.size()));
    }
    return m_nodes[node].Pattern;
}

uint32_t TPatternSet::symbolOf(char16_t unit) const
{
    if (unit < 0x80)
        return m_ascii[unit];
    const auto it = std::lower_bound(m_wideUnits.begin(), m_wideUnits.end(), unit);
    return it != m_wideUnits.end() && *it == unit ? m_wideSymbols[size_t(it - m_wideUnits.begin())] : 0;
}

uint32_t TPatternSet::child(uint32_t node, uint32_t symbol) const
{
    const auto first = m_edgeSymbol.begin() + m_edgeStart[node];
    const auto last = m_edgeSymbol.begin() + m_edgeStart[node + 1];
    const auto it = std::lower_bound(first, last, symbol);
    return it != last && *it == symbol ? m_edgeNode[size_t(it - m_edgeSymbol.begin())] : 0; // 0: none
}

uint32_t TPatternSet::next(uint32_t state, uint32_t symbol) const
{
    for (;;) {
        if (state == 0)
            return m_rootRow[symbol];
        if (const uint32_t c = child(state, symbol))
            return c;
        state = m_fail[state];
    }
}

void TPatternSet::Build(size_t denseLimit)
{
    const auto nodeCount = uint32_t(m_nodes.size());

    // Symbols: every unit that occurs in a pattern.
    std::vector<char16_t> wide;
    for (const Node &n : m_nodes)
        for (const Edge &e : n.Edges) {
            if (e.Unit < 0x80) {
                if (!m_ascii[e.Unit])
                    m_ascii[e.Unit] = m_symbols++;
            } else {
                wide.push_back(e.Unit);
            }
        }
    std::sort(wide.begin(), wide.end());
    wide.erase(std::unique(wide.begin(), wide.end()), wide.end());
    m_wideUnits = wide;
    for (size_t i = 0; i < wide.size(); ++i)
        m_wideSymbols.push_back(m_symbols++);

    // The edges by symbol, each node's sorted for the binary search.
    m_edgeStart.assign(nodeCount + 1, 0);
    for (uint32_t n = 0; n < nodeCount; ++n) {
        std::vector<std::pair<uint32_t, uint32_t>> edges;
        for (const Edge &e : m_nodes[n].Edges)
            edges.emplace_back(symbolOf(e.Unit), e.Node);
        std::sort(edges.begin(), edges.end());
        for (const auto &[symbol, node] : edges) {
            m_edgeSymbol.push_back(symbol);
            m_edgeNode.push_back(node);
        }
        m_edgeStart[n + 1] = uint32_t(m_edgeSymbol.size());
    }
    m_rootRow.assign(m_symbols, 0);
    for (uint32_t i = m_edgeStart[0]; i < m_edgeStart[1]; ++i)
        m_rootRow[m_edgeSymbol[i]] = m_edgeNode[i];

    // Fail links and output links in breadth-first order: a node's fail target is shallower than the node.
    m_fail.assign(nodeCount, 0);
    m_outLink.assign(nodeCount, -1);
    m_firstOut.assign(nodeCount, -1);
    std::vector<uint32_t> order{0};
    order.reserve(nodeCount);
    for (size_t k = 0; k < order.size(); ++k) {
        const uint32_t u = order[k];
        for (uint32_t i = m_edgeStart[u]; i < m_edgeStart[u + 1]; ++i) {
            const uint32_t v = m_edgeNode[i];
            m_fail[v] = u == 0 ? 0 : next(m_fail[u], m_edgeSymbol[i]);
            const uint32_t f = m_fail[v];
            m_outLink[v] = m_nodes[f].Pattern >= 0 ? int32_t(f) : m_outLink[f];
            order.push_back(v);
        }
        m_firstOut[u] = m_nodes[u].Pattern >= 0 ? int32_t(u) : m_outLink[u];
    }

    if (size_t(nodeCount) * m_symbols <= denseLimit) {
        m_dense.assign(size_t(nodeCount) * m_symbols, 0);
        for (const uint32_t u : order) {
            uint32_t *row = m_dense.data() + size_t(u) * m_symbols;
            if (u == 0) {
                std::copy(m_rootRow.begin(), m_rootRow.end(), row);
            } else {
                const uint32_t *failRow = m_dense.data() + size_t(m_fail[u]) * m_symbols;
                std::copy(failRow, failRow + m_symbols, row);
            }
            for (uint32_t i = m_edgeStart[u]; i < m_edgeStart[u + 1]; ++i)
                row[m_edgeSymbol[i]] = m_edgeNode[i];
        }
    }

    // Only the pattern of each node is still needed.
    std::vector<Node> patternsOnly(nodeCount);
    for (uint32_t n = 0; n < nodeCount; ++n)
        patternsOnly[n].Pattern = m_nodes[n].Pattern;
    m_nodes.swap(patternsOnly);
}

void TPatternSet::Scan(QStringView text, std::vector<Hit> &hits) const
{
    hits.assign(m_length.size(), Hit{});
    if (m_length.empty())
        return;
    const char16_t *t = text.utf16();
    const qsizetype n = text.size();
    const bool dense = IsDense();
    uint32_t state = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const uint32_t symbol = symbolOf(t[i]);
        state = dense ? m_dense[size_t(state) * m_symbols + symbol] : next(state, symbol);
        for (int32_t out = m_firstOut[state]; out >= 0; out = m_outLink[size_t(out)]) {
            const int32_t p = m_nodes[size_t(out)].Pattern;
            Hit &hit = hits[size_t(p)];
            if (hit.First < 0)
                hit.First = i + 1 - m_length[size_t(p)];
            if (i + 1 < n && t[i + 1] == u' ')
                hit.BeforeBlank = true;
        }
    }
}
