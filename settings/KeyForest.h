// Key forest: a map from a key (key id, or (key id, option id)) to one owned data
// object and an owned list of leaves. The settings storage describes the keys,
// options and constraints of a printer in these containers.
#pragma once

#include <list>
#include <map>
#include <new>
#include <utility>

#include "settings/KeyRecords.h"
#include "settings/SoupSlotID.h"

template <class K, class D, class C>
class KeyForest {
public:
    using LeafList = std::list<C>;
    struct Node {
        D* data = nullptr;
        LeafList* leaves = nullptr;
    };
    using Map = std::map<K, Node>;
    using iterator = typename Map::iterator;
    using const_iterator = typename Map::const_iterator;

    KeyForest() = default;
    virtual ~KeyForest() { Clear(); }
    KeyForest(const KeyForest&) = delete;
    KeyForest& operator=(const KeyForest&) = delete;

    iterator Begin() { return nodes.begin(); }
    iterator End() { return nodes.end(); }
    const_iterator Begin() const { return nodes.begin(); }
    const_iterator End() const { return nodes.end(); }
    int IsEmpty() const { return nodes.empty() ? 1 : 0; }
    size_t GetCount() const { return nodes.size(); }

    D* GetData(const K& key) const {
        const auto it = nodes.find(key);
        return it != nodes.end() ? it->second.data : nullptr;
    }
    D* GetDataAt(const_iterator it) const { return it != nodes.end() ? it->second.data : nullptr; }
    LeafList* GetLeaves(const K& key) const {
        const auto it = nodes.find(key);
        return it != nodes.end() ? it->second.leaves : nullptr;
    }
    LeafList* GetLeavesAt(const_iterator it) const { return it != nodes.end() ? it->second.leaves : nullptr; }

    // Stores a copy of data under key (the entry is made when absent); the key's
    // former data is deleted, its leaves stay. 0 when memory is short.
    int SetData(const K& key, const D& data) {
        D* copy = new (std::nothrow) D(data);
        if (!copy) return 0;
        try {
            Node& node = nodes[key];
            delete node.data;
            node.data = copy;
        } catch (const std::bad_alloc&) {
            delete copy;
            return 0;
        }
        return 1;
    }

    // Appends a copy of leaf to the key's list (entry and list made when absent).
    int AddLeaf(const K& key, const C& leaf) {
        try {
            Node& node = nodes[key];
            if (!node.leaves) node.leaves = new LeafList();
            node.leaves->push_back(leaf);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        return 1;
    }
    int AddLeaves(const K& key, const LeafList& list) {
        for (const C& leaf : list)
            if (!AddLeaf(key, leaf)) return 0;
        return 1;
    }
    // The same for a list the caller gives up: its leaves are moved in, not copied (a leaf
    // may own a setting, whose copy is a clone).
    int AddLeaves(const K& key, LeafList&& list) {
        try {
            Node& node = nodes[key];
            if (!node.leaves) node.leaves = new LeafList();
            node.leaves->splice(node.leaves->end(), list);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        return 1;
    }

    // Deletes the key's leaf list, keeping its data.
    void ClearLeaves(const K& key) {
        const auto it = nodes.find(key);
        if (it == nodes.end()) return;
        delete it->second.leaves;
        it->second.leaves = nullptr;
    }

    // Option forest: the first option of key whose option id is option, or null.
    C* FindLeaf(const K& key, SoupSlotID option) const {
        LeafList* leaves = GetLeaves(key);
        if (!leaves) return nullptr;
        for (C& leaf : *leaves)
            if (!leaf.IsNotOption(option)) return &leaf;
        return nullptr;
    }

    void Clear() {
        for (auto& entry : nodes) {
            delete entry.second.data;
            delete entry.second.leaves;
        }
        nodes.clear();
    }

    // A new forest with a copy of every entry that has both data and leaves; null
    // when memory is short. The caller deletes it.
    KeyForest* Clone() const {
        KeyForest* copy = new (std::nothrow) KeyForest();
        if (!copy) return nullptr;
        for (const auto& entry : nodes) {
            if (!entry.second.data || !entry.second.leaves) continue;
            if (!copy->SetData(entry.first, *entry.second.data) ||
                !copy->AddLeaves(entry.first, *entry.second.leaves)) {
                delete copy;
                return nullptr;
            }
        }
        return copy;
    }

private:
    Map nodes;
};

// The instances the system uses.
// Every option key of a printer with its options (OptionForest, see KeySetting.h).
// Keys with the id list of their compiled record.
using IdListForest = KeyForest<SoupSlotID, CKeyData, SoupSlotID>;
// For each (key id, option id): the options that conflict with it.
using ConstraintForest = KeyForest<SoupSlotIDPair, SoupSlotID, COptConstraints>;
// Result of constraint resolution: per key, the options it may take.
using ResultForest = KeyForest<SoupSlotID, SoupSlotID, SoupSlotID>;
