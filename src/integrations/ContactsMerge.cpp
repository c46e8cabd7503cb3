#include "integrations/ContactsMerge.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace brindle::ContactsMerge {

namespace {

class DisjointSets {
public:
    explicit DisjointSets(size_t count) : parent_(count) {
        for (size_t i = 0; i < count; ++i) parent_[i] = i;
    }
    size_t find(size_t i) {
        while (parent_[i] != i) {
            parent_[i] = parent_[parent_[i]];  // point at the grandparent as we go
            i = parent_[i];
        }
        return i;
    }
    void join(size_t a, size_t b) {
        size_t rootA = find(a), rootB = find(b);
        if (rootA != rootB) parent_[rootA] = rootB;
    }

private:
    std::vector<size_t> parent_;
};

// Appends the non-empty values of more not seen before.
void appendNew(std::vector<std::string>& into, std::unordered_set<std::string_view>& seen,
               const std::vector<std::string>& more) {
    for (const auto& value : more)
        if (!value.empty() && seen.insert(value).second) into.push_back(value);
}

size_t characters(const std::string& text) {
    size_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

MergedContact mergeGroup(const std::vector<GoogleContact>& records, const std::vector<size_t>& group) {
    const GoogleContact* chosen = &records[group.front()];
    for (size_t i : group)
        if (characters(records[i].displayName) > characters(chosen->displayName)) chosen = &records[i];

    MergedContact merged;
    merged.displayName = chosen->displayName;
    merged.givenName = chosen->givenName;
    merged.familyName = chosen->familyName;
    std::unordered_set<std::string_view> emails, phones, organizations, addresses;
    for (size_t i : group) {
        const GoogleContact& record = records[i];
        appendNew(merged.emails, emails, record.emails);
        appendNew(merged.phones, phones, record.phones);
        appendNew(merged.organizations, organizations, record.organizations);
        appendNew(merged.addresses, addresses, record.addresses);
        if (merged.notes.empty()) merged.notes = record.notes;
        if (!merged.photoURL) merged.photoURL = record.photoURL;
        merged.sources.push_back(
            {{"account", record.account}, {"resource_name", record.resourceName}, {"etag", record.etag}});
    }
    return merged;
}

}  // namespace

std::vector<MergedContact> merge(const std::vector<GoogleContact>& records) {
    DisjointSets sets(records.size());
    std::unordered_map<std::string_view, size_t> owner;
    owner.reserve(records.size() * 2);
    for (size_t i = 0; i < records.size(); ++i) {
        for (const auto& email : records[i].emails) {
            if (email.empty()) continue;  // an empty address would join strangers
            auto [it, inserted] = owner.emplace(email, i);
            if (!inserted) sets.join(i, it->second);
        }
    }

    std::unordered_map<size_t, size_t> groupOfRoot;
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < records.size(); ++i) {
        auto [it, inserted] = groupOfRoot.emplace(sets.find(i), groups.size());
        if (inserted) groups.emplace_back();
        groups[it->second].push_back(i);
    }

    std::vector<MergedContact> merged;
    merged.reserve(groups.size());
    for (const auto& group : groups) merged.push_back(mergeGroup(records, group));
    return merged;
}

}  // namespace brindle::ContactsMerge
