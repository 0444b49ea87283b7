#pragma once

// A minimum cut between two terminals of a graph with non-negative integer
// capacities, by Boykov and Kolmogorov's maximum flow ("An experimental
// comparison of min-cut/max-flow algorithms for energy minimization in
// vision", 2004): a search tree grows from each terminal over arcs with room
// left; where the two meet, a path is saturated, the nodes cut off by it
// (orphans) look for a new parent in their own tree or fall free, and the
// trees grow on. Unlike a breadth-first search for each path, the trees are
// kept from one path to the next, which on the grids a picture gives (many
// short paths) is far faster.
//
// The cut returned is the one whose source side is the smallest: exactly the
// nodes the source still reaches over arcs with room. Used by one thread; a
// graph is solved once.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace weftloom {

class MinCut {
  public:
    // A graph of `nodes` nodes, with room for `edges` edges between them.
    explicit MinCut(std::size_t nodes, std::size_t edges = 0) : nodes_(nodes), terminal_(nodes, 0) {
        arcs_.reserve(2 * edges);
    }

    // What node costs on the sink's side (cut from the source) and on the
    // source's side. Costs add up over calls.
    void AddTerminal(std::size_t node, std::int64_t onSinkSide, std::int64_t onSourceSide) {
        terminal_[node] += onSinkSide - onSourceSide;
        constant_ += std::min(onSinkSide, onSourceSide);
    }
    // What it costs that `from` stays with the source and `to` goes with the
    // sink.
    void AddEdge(std::size_t from, std::size_t to, std::int64_t cost) {
        if (cost <= 0) {
            return;
        }
        AddArc(static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to), cost);
        AddArc(static_cast<std::uint32_t>(to), static_cast<std::uint32_t>(from), 0);
    }

    // Finds the cut; returns its cost (the maximum flow).
    std::int64_t Solve();
    // After Solve: whether node went with the sink.
    bool OnSinkSide(std::size_t node) const {
        return nodes_[node].parent == kFree || nodes_[node].sinkTree;
    }

  private:
    static constexpr std::uint32_t kNoArc = std::numeric_limits<std::uint32_t>::max();
    // A node's parent: an arc to it, or one of these.
    static constexpr std::uint32_t kFree = kNoArc;
    static constexpr std::uint32_t kTerminal = kNoArc - 1;
    static constexpr std::uint32_t kOrphan = kNoArc - 2;

    struct Arc {
        std::uint32_t to;
        std::uint32_t next;  // the next arc from the same node
        std::int64_t room;
    };
    struct Node {
        std::uint32_t first = kNoArc;       // its arcs
        std::uint32_t parent = kFree;       // the arc towards its tree's terminal
        std::uint32_t nextActive = kNoArc;  // itself when last in the queue
        std::uint32_t stamp = 0;            // when depth was last known right
        std::uint32_t depth = 0;            // arcs to its terminal
        bool sinkTree = false;
    };

    void AddArc(std::uint32_t from, std::uint32_t to, std::int64_t room) {
        arcs_.push_back({to, nodes_[from].first, room});
        nodes_[from].first = static_cast<std::uint32_t>(arcs_.size() - 1);
    }
    // The room for flow along a tree's arc, child to parent in the sink's
    // tree and parent to child in the source's: arc a leads from the child.
    std::int64_t TreeRoom(std::uint32_t a, bool sinkTree) const {
        return sinkTree ? arcs_[a].room : arcs_[a ^ 1u].room;
    }
    void Activate(std::uint32_t n);
    std::uint32_t NextActive();
    // Grows n's tree from n; returns the arc from the source's tree to the
    // sink's that it met, or kNoArc.
    std::uint32_t Grow(std::uint32_t n);
    void Augment(std::uint32_t middle);
    void Adopt(std::uint32_t n);

    std::vector<Node> nodes_;
    std::vector<Arc> arcs_;
    // Each node's net cost on the sink's side: positive, room from the
    // source; negative, room to the sink.
    std::vector<std::int64_t> terminal_;
    std::int64_t constant_ = 0;
    std::int64_t flow_ = 0;
    std::uint32_t firstActive_ = kNoArc;
    std::uint32_t lastActive_ = kNoArc;
    std::vector<std::uint32_t> orphans_;
    std::uint32_t time_ = 0;
};

inline void MinCut::Activate(std::uint32_t n) {
    if (nodes_[n].nextActive != kNoArc) {
        return;
    }
    nodes_[n].nextActive = n;
    if (lastActive_ == kNoArc) {
        firstActive_ = n;
    } else {
        nodes_[lastActive_].nextActive = n;
    }
    lastActive_ = n;
}

inline std::uint32_t MinCut::NextActive() {
    while (firstActive_ != kNoArc) {
        const std::uint32_t n = firstActive_;
        firstActive_ = nodes_[n].nextActive == n ? kNoArc : nodes_[n].nextActive;
        if (firstActive_ == kNoArc) {
            lastActive_ = kNoArc;
        }
        nodes_[n].nextActive = kNoArc;
        if (nodes_[n].parent != kFree) {
            return n;
        }
    }
    return kNoArc;
}

inline std::uint32_t MinCut::Grow(std::uint32_t n) {
    const bool sinkTree = nodes_[n].sinkTree;
    for (std::uint32_t a = nodes_[n].first; a != kNoArc; a = arcs_[a].next) {
        // Room from n's side of the tree towards the neighbour.
        if ((sinkTree ? arcs_[a ^ 1u].room : arcs_[a].room) == 0) {
            continue;
        }
        Node& m = nodes_[arcs_[a].to];
        if (m.parent == kFree) {
            m.sinkTree = sinkTree;
            m.parent = a ^ 1u;
            m.stamp = nodes_[n].stamp;
            m.depth = nodes_[n].depth + 1;
            Activate(arcs_[a].to);
        } else if (m.sinkTree != sinkTree) {
            return sinkTree ? a ^ 1u : a;
        } else if (m.stamp <= nodes_[n].stamp && m.depth > nodes_[n].depth) {
            // A shorter way to the terminal.
            m.parent = a ^ 1u;
            m.stamp = nodes_[n].stamp;
            m.depth = nodes_[n].depth + 1;
        }
    }
    return kNoArc;
}

inline void MinCut::Augment(std::uint32_t middle) {
    // The path's least room: the middle arc, the source's side, the sink's.
    std::int64_t least = arcs_[middle].room;
    for (const bool sinkTree : {false, true}) {
        std::uint32_t n = sinkTree ? arcs_[middle].to : arcs_[middle ^ 1u].to;
        while (nodes_[n].parent != kTerminal) {
            least = std::min(least, TreeRoom(nodes_[n].parent, sinkTree));
            n = arcs_[nodes_[n].parent].to;
        }
        least = std::min(least, sinkTree ? -terminal_[n] : terminal_[n]);
    }
    arcs_[middle].room -= least;
    arcs_[middle ^ 1u].room += least;
    for (const bool sinkTree : {false, true}) {
        std::uint32_t n = sinkTree ? arcs_[middle].to : arcs_[middle ^ 1u].to;
        while (nodes_[n].parent != kTerminal) {
            const std::uint32_t a = nodes_[n].parent;
            const std::uint32_t along = sinkTree ? a : a ^ 1u;
            arcs_[along].room -= least;
            arcs_[along ^ 1u].room += least;
            const std::uint32_t up = arcs_[a].to;
            if (arcs_[along].room == 0) {
                nodes_[n].parent = kOrphan;
                orphans_.push_back(n);
            }
            n = up;
        }
        terminal_[n] += sinkTree ? least : -least;
        if (terminal_[n] == 0) {
            nodes_[n].parent = kOrphan;
            orphans_.push_back(n);
        }
    }
    flow_ += least;
}

inline void MinCut::Adopt(std::uint32_t n) {
    const bool sinkTree = nodes_[n].sinkTree;
    std::uint32_t best = kNoArc;
    std::uint32_t bestDepth = std::numeric_limits<std::uint32_t>::max();
    for (std::uint32_t a = nodes_[n].first; a != kNoArc; a = arcs_[a].next) {
        const std::uint32_t m = arcs_[a].to;
        if (nodes_[m].parent == kFree || nodes_[m].sinkTree != sinkTree ||
            TreeRoom(a, sinkTree) == 0) {
            continue;
        }
        // Whether m still leads to the terminal, and in how many arcs.
        std::uint32_t depth = 0;
        std::uint32_t k = m;
        bool rooted = false;
        for (;;) {
            if (nodes_[k].stamp == time_) {
                depth += nodes_[k].depth;
                rooted = true;
                break;
            }
            const std::uint32_t up = nodes_[k].parent;
            ++depth;
            if (up == kTerminal) {
                nodes_[k].stamp = time_;
                nodes_[k].depth = 1;
                rooted = true;
                break;
            }
            if (up == kOrphan || up == kFree) {
                break;
            }
            k = arcs_[up].to;
        }
        if (!rooted) {
            continue;
        }
        if (depth < bestDepth) {
            best = a;
            bestDepth = depth;
        }
        // The way walked is known now.
        for (k = m; nodes_[k].stamp != time_; k = arcs_[nodes_[k].parent].to) {
            nodes_[k].stamp = time_;
            nodes_[k].depth = depth--;
        }
    }
    if (best != kNoArc) {
        nodes_[n].parent = best;
        nodes_[n].stamp = time_;
        nodes_[n].depth = bestDepth + 1;
        return;
    }
    // No way back: n falls free, its children become orphans, and the
    // neighbours that could reach it grow again.
    for (std::uint32_t a = nodes_[n].first; a != kNoArc; a = arcs_[a].next) {
        const std::uint32_t m = arcs_[a].to;
        const std::uint32_t up = nodes_[m].parent;
        if (up == kFree || nodes_[m].sinkTree != sinkTree) {
            continue;
        }
        if (TreeRoom(a, sinkTree) > 0) {
            Activate(m);
        }
        if (up != kTerminal && up != kOrphan && arcs_[up].to == n) {
            nodes_[m].parent = kOrphan;
            orphans_.push_back(m);
        }
    }
    nodes_[n].parent = kFree;
}

inline std::int64_t MinCut::Solve() {
    for (std::uint32_t n = 0; n < nodes_.size(); ++n) {
        if (terminal_[n] != 0) {
            nodes_[n].sinkTree = terminal_[n] < 0;
            nodes_[n].parent = kTerminal;
            nodes_[n].depth = 1;
            Activate(n);
        }
    }
    std::uint32_t n = kNoArc;
    for (;;) {
        if (n == kNoArc || nodes_[n].parent == kFree) {
            n = NextActive();
            if (n == kNoArc) {
                break;
            }
        }
        const std::uint32_t middle = Grow(n);
        if (middle == kNoArc) {
            n = kNoArc;
            continue;
        }
        // n keeps growing after the path (it may meet the other tree again).
        ++time_;
        Augment(middle);
        for (std::size_t k = 0; k < orphans_.size(); ++k) {
            Adopt(orphans_[k]);
        }
        orphans_.clear();
    }
    return flow_ + constant_;
}

}  // namespace weftloom
