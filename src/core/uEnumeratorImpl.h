#pragma once

#include "uInterfaces.h"

#include <vector>

namespace kelvora {

class TEnumerator : public IEnumerator {
public:
    void First() override;
    void Next() override;
    bool Eof() override;
    IInterfacePtr Current() override;
    void Add(const IInterfacePtr& Item) override;
    void Remove(const IInterfacePtr& Item) override;
    int32_t Count() override;
    IInterfacePtr GetItem(int32_t Index) override;
    bool Exchange(int32_t Index1, int32_t Index2) override;
    void Clear() override;

private:
    std::vector<IInterfacePtr> FList;
    int32_t FCounter = 0;
};

} // namespace kelvora
