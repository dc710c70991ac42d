#include "whittle/whittle_run.h"

#include "mesh/test_meshes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace
{

namespace fs = std::filesystem;

TEST(WhittleRun, nearZeroEdgeDoesNotEndTheRunEarly)
{
    // A grid with one vertex moved to within 1e-9 of its neighbour: the first threshold is about
    // 2e-6, so the next pass finds no edge below it; the run must go on growing the threshold.
    meshgen::GeneratedMeshT grid = meshgen::grid(12, 12);
    grid.positions[20] = grid.positions[21];
    grid.positions[20][0] -= 1e-7f;
    const fs::path dir = fs::temp_directory_path() / ("whittle_run_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string in = (dir / "near.obj").string();
    const std::string out = (dir / "near.pm").string();
    ASSERT_TRUE(meshgen::writeObj(grid, in));
    meshtest::DiagnosticCaptureT quiet;
    WhittleStatsT stats;
    EXPECT_EQ(whittleFile(in, out, &stats), kWhittleOk);
    EXPECT_LT(stats.baseVertices, grid.positions.size() / 4);
    EXPECT_GT(stats.levels, 4u);
    EXPECT_EQ(stats.collapses + stats.baseVertices, grid.positions.size());
    fs::remove_all(dir);
}

TEST(WhittleRun, missingArgumentsReturnUsageStatus)
{
    meshtest::DiagnosticCaptureT capture;
    const char* argv[] = {"whittle", "only-one"};
    EXPECT_EQ(runWhittle(2, argv), kWhittleUsage);
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{"whittle usage: whittle.exe objfilein xpmfileout"}));
}

} // namespace
