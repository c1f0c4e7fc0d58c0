// qvr-make-movies OUTDIR [CASE...]: makes every standard movie, or those of the cases named, and
// writes the standard cases as OUTDIR/<case>/{original,reference,damaged}.EXT and OUTDIR/cases.json
// (name, engine, container, original, damaged, reference, reference_is_damaged, destroyed ranges).
// qvr-make-movies --score ORIGINAL REPAIRED: one line of figures for a repaired file.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/Damage.h"
#include "support/Movies.h"
#include "support/Score.h"

namespace fs = std::filesystem;
using namespace testsupport;

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "--score") {
    std::cout << score(args[1], args[2]).summary() << "\n";
    return 0;
  }
  if (args.empty() || args[0].starts_with("-")) {
    std::cerr << "usage: qvr-make-movies OUTDIR [CASE...] | --score ORIGINAL REPAIRED\n";
    return 2;
  }
  try {
    const std::string out = fs::absolute(args[0]).string();
    std::vector<Case> cases;
    std::vector<std::string> recipes;
    for (size_t i = 1; i < args.size(); ++i) cases.push_back(standardCase(args[i]));
    for (const auto& c : cases) recipes.push_back(c.recipe);
    for (const auto& r : cases.empty() ? standardRecipes() : std::vector<Recipe>()) recipes.push_back(r.name);
    if (cases.empty()) cases = standardCases();
    // Two at a time, as every encode runs on one thread.
    std::atomic<size_t> next = 0;
    std::mutex mutex;
    std::string failure;
    auto work = [&] {
      for (size_t i; (i = next++) < recipes.size();) try {
          makeMovie(recipe(recipes[i]));
        } catch (const std::exception& e) {
          std::lock_guard lock(mutex);
          failure += e.what() + std::string("\n");
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    if (!failure.empty()) throw std::runtime_error(failure);

    auto list = nlohmann::json::array();
    for (const auto& c : cases) {
      const std::string ext = recipe(c.recipe).container, dir = out + "/" + c.name;
      const MadeCase made = makeCase(c, dir);
      auto place = [&](const std::string& from, const std::string& name) {
        fs::copy_file(from, dir + "/" + name + "." + ext, fs::copy_options::update_existing);
        return c.name + "/" + name + "." + ext;
      };
      const std::string damaged = c.name + "/damaged." + ext;
      nlohmann::json reference = c.selfReference ? nlohmann::json(damaged) : nullptr;
      if (!c.selfReference && !made.reference.empty()) reference = place(made.reference, "reference");
      list.push_back({{"name", c.name},
                      {"engine", ext == "avi" ? "avi" : "mov"},
                      {"container", ext},
                      {"original", place(made.original, "original")},
                      {"damaged", damaged},
                      {"reference", reference},
                      {"reference_is_damaged", c.selfReference},
                      {"destroyed", made.destroyed}});
    }
    std::ofstream(out + "/cases.json.part") << nlohmann::json{{"version", 1}, {"cases", list}}.dump(2) << "\n";
    fs::rename(out + "/cases.json.part", out + "/cases.json");
    std::cerr << cases.size() << " cases in " << out << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qvr-make-movies: " << e.what() << "\n";
    return 1;
  }
}
