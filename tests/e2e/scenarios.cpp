// Every end-to-end scenario: the rooms' tables one after the other, the soak last (it is long).
#include "tests/e2e/scenarios.h"

#include <vector>

const Scenario *scenarios(size_t &count) {
    static std::vector<Scenario> all;
    if (all.empty()) {
        for (auto room : {connectionScenarios, memoryScenarios, updateScenarios, libraryScenarios,
                          displayScenarios, chipScenarios}) {
            size_t n = 0;
            const Scenario *table = room(n);
            all.insert(all.end(), table, table + n);
        }
        all.push_back({"image_file_saves", imageFileSaves});
        all.push_back({"soak", soak});
    }
    count = all.size();
    return all.data();
}
