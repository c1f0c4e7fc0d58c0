// qvr-make-movies OUTDIR [CASE...]: makes every standard movie, or those of the cases named, and
// writes the standard cases as OUTDIR/<case>/{original,reference,damaged}.EXT and OUTDIR/cases.json
// (name, engine, container, original, damaged, reference, reference_is_damaged, destroyed ranges).
// qvr-make-movies --plan PLAN OUTDIR: the same for the recipes and cases of a JSON plan (the
// benches' large recordings): {"recipes": [Recipe fields by name, "original"/"reference" as
// {video, audio, seconds, videoFilter}, reference null for none], "cases": [{name, recipe,
// damage: [{kind: truncate|zero|random|insert|remove, within, at, offset, length, seed}]}]}.
// qvr-make-movies --score ORIGINAL REPAIRED: one line of figures for a repaired file.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "support/Damage.h"
#include "support/Movies.h"
#include "support/Score.h"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace testsupport;

namespace {

Content content(const json& j, Content c) {
  c.video = j.value("video", c.video);
  c.audio = j.value("audio", c.audio);
  c.seconds = j.value("seconds", c.seconds);
  c.videoFilter = j.value("videoFilter", c.videoFilter);
  return c;
}

Recipe recipeFrom(const json& j) {
  Recipe r{.name = j.at("name")};
  for (auto [key, field] : {std::pair{"container", &r.container},
                            {"size", &r.size},
                            {"fps", &r.fps},
                            {"pixFmt", &r.pixFmt},
                            {"videoCodec", &r.videoCodec},
                            {"videoArgs", &r.videoArgs},
                            {"videoTag", &r.videoTag},
                            {"audioCodec", &r.audioCodec},
                            {"audioArgs", &r.audioArgs},
                            {"timecode", &r.timecode},
                            {"muxerArgs", &r.muxerArgs}})
    *field = j.value(key, *field);
  r.audioRate = j.value("audioRate", r.audioRate);
  r.audioChannels = j.value("audioChannels", r.audioChannels);
  r.original = content(j.value("original", json::object()), r.original);
  if (j.contains("reference"))
    r.reference = j["reference"].is_null() ? std::nullopt : std::optional(content(j["reference"], Content{}));
  return r;
}

Case caseFrom(const json& j) {
  static const std::map<std::string, Damage::Kind> kinds = {{"truncate", Damage::Truncate},
                                                            {"zero", Damage::Zero},
                                                            {"random", Damage::Random},
                                                            {"insert", Damage::Insert},
                                                            {"remove", Damage::Remove}};
  Case c{j.at("name"), j.at("recipe"), {}};
  for (const auto& d : j.value("damage", json::array()))
    c.damage.push_back({kinds.at(d.at("kind")), d.value("within", "file"), d.value("at", std::vector<double>()),
                        d.value("offset", int64_t(0)), d.value("length", uint64_t(0)), d.value("seed", uint32_t(1))});
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "--score") {
    std::cout << score(args[1], args[2]).summary() << "\n";
    return 0;
  }
  const bool planned = args.size() == 3 && args[0] == "--plan";
  if (args.empty() || (args[0].starts_with("-") && !planned)) {
    std::cerr << "usage: qvr-make-movies OUTDIR [CASE...] | --plan PLAN OUTDIR | --score ORIGINAL REPAIRED\n";
    return 2;
  }
  try {
    std::map<std::string, Recipe> recipes;
    std::vector<Case> cases;
    if (planned) {
      const json plan = json::parse(std::ifstream(args[1]));
      for (const auto& r : plan.at("recipes")) recipes.emplace(r.at("name"), recipeFrom(r));
      for (const auto& c : plan.at("cases")) cases.push_back(caseFrom(c));
      args.erase(args.begin(), args.begin() + 2);
    } else {
      for (size_t i = 1; i < args.size(); ++i) cases.push_back(standardCase(args[i]));
      if (cases.empty()) cases = standardCases();
      for (const auto& r : standardRecipes())
        if (args.size() == 1 || std::any_of(cases.begin(), cases.end(), [&](auto& c) { return c.recipe == r.name; }))
          recipes.emplace(r.name, r);
    }
    const std::string out = fs::absolute(args[0]).string();
    // Two at a time, as every encode runs on one thread.
    std::vector<Recipe> todo;
    for (const auto& [name, r] : recipes) todo.push_back(r);
    std::map<std::string, Movie> movies;
    std::atomic<size_t> next = 0;
    std::mutex mutex;
    std::string failure;
    auto work = [&] {
      for (size_t i; (i = next++) < todo.size();) try {
          Movie m = makeMovie(todo[i]);
          std::lock_guard lock(mutex);
          movies[todo[i].name] = m;
        } catch (const std::exception& e) {
          std::lock_guard lock(mutex);
          failure += e.what() + std::string("\n");
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    if (!failure.empty()) throw std::runtime_error(failure);

    auto list = json::array();
    for (const auto& c : cases) {
      const std::string ext = recipes.at(c.recipe).container, dir = out + "/" + c.name;
      const Movie& m = movies.at(c.recipe);
      fs::create_directories(dir);
      const std::string damaged = c.name + "/damaged." + ext;
      const auto destroyed = damage(m.original, c.damage, out + "/" + damaged);
      auto place = [&](const std::string& from, const std::string& name) {
        fs::copy_file(from, dir + "/" + name + "." + ext, fs::copy_options::update_existing);
        return c.name + "/" + name + "." + ext;
      };
      json reference = c.selfReference ? json(damaged) : nullptr;
      if (!c.selfReference && !m.reference.empty()) reference = place(m.reference, "reference");
      list.push_back({{"name", c.name},
                      {"engine", ext == "avi" ? "avi" : "mov"},
                      {"container", ext},
                      {"original", place(m.original, "original")},
                      {"damaged", damaged},
                      {"reference", reference},
                      {"reference_is_damaged", c.selfReference},
                      {"destroyed", destroyed}});
    }
    std::ofstream(out + "/cases.json.part") << json{{"version", 1}, {"cases", list}}.dump(2) << "\n";
    fs::rename(out + "/cases.json.part", out + "/cases.json");
    std::cerr << cases.size() << " cases in " << out << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qvr-make-movies: " << e.what() << "\n";
    return 1;
  }
}
