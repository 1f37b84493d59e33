"""How close each hand-eye refinement comes to the noise floor, and whether its sigma is honest,
on rendered scenes with known truth (grey-level noise 40 after a 0.6 px blur: corner noise of
standard deviation about 0.5 px per axis; robot noise 0.05 mm and 0.005 deg per axis).

Paths:
- eye-in-hand, intrinsics calibrated from the same images (30 and 12 captures), then refine()
  (Huber scale 1 px) with the intrinsics held as calibrated and with refine_intrinsics=True, and
  refine_at_noise_scale(refine_intrinsics=True) (Huber, then Tukey's biweight, at scales from the corners' robust
  noise), which `hand-eye --refine` runs and the goals judge;
- eye-to-hand with the camera matrix given (30 captures): the five closed-form solvers, then
  refine().

Per path: median over the seeds of the error's length (translation mm, rotation deg), the
median bound, their ratio, and how many seeds have every axis of the error within 3 sigma.

The bound is the hybrid Cramer-Rao bound of the simulated measurement model, evaluated at the
truth: every detected corner is a measurement of project(K, dist, camera_T_target); the
parameters are the hand-eye transform, the target's pose, the intrinsics where the path
estimates them, and each capture's robot pose error with the rendered robot noise as its prior.
Its Jacobian comes from finite differences of cv2.projectPoints through the chain, independent
of the library's refinement. The corner noise is measured on each seed (detected against
projected truth); its density has heavy tails, so the bound uses its Fisher information
(corner_noise), and the bound with Gaussian noise of its standard deviation is printed beside.
Printed as the median error length of an estimate distributed with the transform's blocks of
the inverse information: what an efficient unbiased estimate's median error reaches, so that a
ratio of 1 is the floor.
"""

import argparse
import contextlib
import io
import math
import os
import statistics
import sys
import time

import cv2
import numpy as np

import _vemo
from quorvantine.vemo.scenes import make_eye_to_hand_scene, make_hand_eye_scene, make_rig_scene

METHODS = ["ANDREFF", "DANIILIDIS", "HORAUD", "PARK", "TSAI"]  # TSAI last: the refinement starts from it
IMAGE_NOISE, BLUR_SIGMA = 40.0, 0.6
ROBOT_NOISE_M, ROBOT_NOISE_DEG = 0.00005, 0.005
SCENE_NOISE = {"robot_noise_deg": ROBOT_NOISE_DEG, "robot_noise_m": ROBOT_NOISE_M, "image_noise": IMAGE_NOISE,
               "blur_sigma": BLUR_SIGMA}
ROBOT_PRIOR = [math.radians(ROBOT_NOISE_DEG)] * 3 + [ROBOT_NOISE_M] * 3  # rotation vector, translation
BOUND_RATIO_GOAL, SPEEDUP_GOAL, COVERED_SHARE_GOAL = 1.3, 0.5, 0.9
# Finite-difference steps: radians and metres for poses; pixels, then unitless, for the lens.
POSE_STEP = 1e-6
LENS_STEPS = [1e-3] * 4 + [1e-6] * 5
BOUND_SAMPLES = 20000


def twist(transform, delta):
    """transform moved by delta = (rotation vector, translation): rotated on the left, shifted
    in its own left-hand frame, as the errors below are measured."""
    moved = transform.copy()
    moved[:3, :3] = cv2.Rodrigues(np.asarray(delta[:3], float))[0] @ transform[:3, :3]
    moved[:3, 3] = transform[:3, 3] + delta[3:]
    return moved


def motion(delta):
    """The small rigid motion (rotation vector, translation) on the right of a robot pose."""
    return twist(np.eye(4), delta)


def error_axes(estimate, truth):
    """(translation error, mm per axis; rotation error, degrees about each axis) of a_T_b in a's axes."""
    rotation_vector = cv2.Rodrigues(estimate[:3, :3] @ truth[:3, :3].T)[0].ravel()
    return 1000.0 * (estimate[:3, 3] - truth[:3, 3]), np.degrees(rotation_vector)


def lens_from(camera_matrix, dist_coeffs):
    return np.concatenate([[camera_matrix[0, 0], camera_matrix[1, 1], camera_matrix[0, 2], camera_matrix[1, 2]],
                           np.ravel(dist_coeffs)[:5]])


def project(points, camera_T_target, lens):
    camera_matrix = np.array([[lens[0], 0, lens[2]], [0, lens[1], lens[3]], [0, 0, 1]])
    rvec = cv2.Rodrigues(camera_T_target[:3, :3])[0]
    pixels, _ = cv2.projectPoints(points, rvec, camera_T_target[:3, 3], camera_matrix, lens[4:])
    return pixels.reshape(-1, 2)


def detected_corners(scene):
    """(image index, board points (N, 3), detected pixels (N, 2)) per image where the target was found."""
    detections = quiet(_vemo.IntrinsicCalibrator(scene.target).find_corners, scene.images)
    return [(index, np.asarray(points, float).reshape(-1, 3), np.asarray(pixels, float).reshape(-1, 2))
            for index, points, pixels in zip(detections.successful_indices, detections.object_points,
                                             detections.image_points)]


def corner_noise(scene, corners):
    """Detected minus projected-true corners of a single-camera scene: noise_figures."""
    lens = lens_from(scene.camera_matrix, scene.dist_coeffs)
    return noise_figures(np.vstack([pixels - project(points, scene.camera_T_target_list[index], lens)
                                    for index, points, pixels in corners]))


def noise_figures(residuals):
    """Of corner residuals (N, 2) against the truth, pixels, per axis: mean, standard
    deviation, the core's robust sigma (1.4826 MAD) and the sigma of a Gaussian with the same
    Fisher information as the noise's own density. The detector's noise has heavy tails (a few
    corners pixels off among many a fifth of a pixel off): its standard deviation overstates
    the noise a robust fit sees, and only the Fisher information gives the floor."""
    centred = residuals - np.median(residuals, axis=0)
    return {"mean": residuals.mean(axis=0), "std": residuals.std(axis=0),
            "core": 1.4826 * np.median(np.abs(centred), axis=0),
            "fisher": np.array([fisher_sigma(axis) for axis in centred.T])}


def fisher_sigma(values, iterations=200):
    """1 / sqrt(Fisher information for location) of a zero-mean mixture of three Gaussians
    fitted to values by expectation maximisation."""
    core = 1.4826 * np.median(np.abs(values))
    sigmas, weights = core * np.array([1.0, 3.0, 10.0]), np.full(3, 1.0 / 3)
    for _ in range(iterations):
        densities = weights * np.exp(-0.5 * (values[:, None] / sigmas) ** 2) / sigmas
        responsibilities = densities / densities.sum(axis=1, keepdims=True)
        weights = responsibilities.mean(axis=0)
        sigmas = np.sqrt((responsibilities * values[:, None] ** 2).sum(axis=0) / responsibilities.sum(axis=0))
    grid = np.linspace(-30 * sigmas.max(), 30 * sigmas.max(), 200001)
    parts = weights * np.exp(-0.5 * (grid[:, None] / sigmas) ** 2) / (sigmas * math.sqrt(2 * math.pi))
    density, slope = parts.sum(axis=1), (-parts * grid[:, None] / sigmas ** 2).sum(axis=1)
    information = np.sum(slope ** 2 / np.maximum(density, 1e-300)) * (grid[1] - grid[0])
    return 1.0 / math.sqrt(information)


def crb(corners, chain, shared_steps, noise_levels, robot_noise):
    """Inverses of the hybrid Fisher information, one per corner noise level (x, y pixels),
    each capture's robot pose error (rotation vector, translation) with prior sigma
    robot_noise. chain(shared, index, delta) gives (camera_T_target, lens); shared starts
    with the transform's (rotation, translation). Returns the shared parameters' covariances."""
    shared_count = len(shared_steps)
    size = shared_count + 6 * len(corners)
    informations = [np.zeros((size, size)) for _ in noise_levels]
    steps = np.concatenate([shared_steps, [POSE_STEP] * 6])
    for k, (index, points, _) in enumerate(corners):
        columns = np.r_[0:shared_count, shared_count + 6 * k:shared_count + 6 * k + 6]
        jacobian = finite_jacobian(points, lambda offset: chain(offset[:shared_count], index, offset[shared_count:]),
                                   steps)
        prior = shared_count + 6 * k + np.arange(6)
        for information, noise_px in zip(informations, noise_levels):
            whitened = (jacobian / np.asarray(noise_px)[None, :, None]).reshape(-1, len(steps))
            information[np.ix_(columns, columns)] += whitened.T @ whitened
            information[prior, prior] += 1.0 / np.asarray(robot_noise) ** 2
    return [inverse(information)[:shared_count, :shared_count] for information in informations]


def inverse(information):
    """Radians, metres, pixels and distortion terms differ by orders of magnitude: the inverse
    taken at a unit diagonal."""
    scale = np.outer(*[1.0 / np.sqrt(np.diag(information))] * 2)
    return np.linalg.inv(information * scale) * scale


def finite_jacobian(points, chain, steps):
    """d project(points, *chain(delta)) / d delta by central differences, (N, 2, len(steps))."""
    jacobian = np.empty((len(points), 2, len(steps)))
    for j, step in enumerate(steps):
        sides = []
        for sign in (1.0, -1.0):
            offset = np.zeros(len(steps))
            offset[j] = sign * step
            sides.append(project(points, *chain(offset)))
        jacobian[:, :, j] = (sides[0] - sides[1]) / (2 * step)
    return jacobian


def bound_lengths(covariance):
    """(translation mm, rotation deg): the median error length of an estimate distributed as
    the bound says, from the transform's blocks. The median rather than sqrt(trace) because
    the blocks are far from isotropic (rotation and translation trade off along the view
    direction), which moves the median length anywhere between 0.67 and 0.89 of the RMS."""
    samples = np.random.default_rng(0).standard_normal((BOUND_SAMPLES, 3))
    return tuple(scale * statistics.median(np.linalg.norm(samples @ np.linalg.cholesky(block).T, axis=1))
                 for scale, block in ((1000.0, covariance[3:6, 3:6]), (math.degrees(1.0), covariance[:3, :3])))


def bounds_of(prefix, covariances):
    """{prefix_t, prefix_r}: the bound with the noise's Fisher information, {prefix_gauss_t,
    prefix_gauss_r}: with Gaussian noise of its standard deviation."""
    (t, r), (gauss_t, gauss_r) = [bound_lengths(covariance) for covariance in covariances]
    return {f"{prefix}_t": t, f"{prefix}_r": r, f"{prefix}_gauss_t": gauss_t, f"{prefix}_gauss_r": gauss_r}


def eye_in_hand_bounds(scene, corners, noise):
    """The bound with the intrinsics free (the path estimates them) and with them known."""
    tcp_T_camera, robot_T_target = scene.tcp_T_camera, scene.robot_T_target
    true_robot_T_tcp = [robot_T_target @ np.linalg.inv(camera_T_target) @ np.linalg.inv(tcp_T_camera)
                        for camera_T_target in scene.camera_T_target_list]
    lens = lens_from(scene.camera_matrix, scene.dist_coeffs)

    def chain(shared, index, delta):
        camera_T_target = (np.linalg.inv(twist(tcp_T_camera, shared[:6]))
                           @ np.linalg.inv(true_robot_T_tcp[index] @ motion(delta)) @ twist(robot_T_target, shared[6:12]))
        return camera_T_target, lens + np.pad(shared[12:], (0, 9 - len(shared[12:])))

    levels = [noise["fisher"], noise["std"]]
    return {**bounds_of("bound", crb(corners, chain, [POSE_STEP] * 12 + LENS_STEPS, levels, ROBOT_PRIOR)),
            **bounds_of("known", crb(corners, chain, [POSE_STEP] * 12, levels, ROBOT_PRIOR))}


def eye_to_hand_bounds(scene, corners, noise):
    """The bound on base_T_camera with the camera matrix given."""
    base_T_camera, tcp_T_target = scene.base_T_camera, scene.tcp_T_target
    true_robot_T_tcp = [base_T_camera @ camera_T_target @ np.linalg.inv(tcp_T_target)
                        for camera_T_target in scene.camera_T_target_list]
    lens = lens_from(scene.camera_matrix, scene.dist_coeffs)

    def chain(shared, index, delta):
        camera_T_target = (np.linalg.inv(twist(base_T_camera, shared[:6])) @ true_robot_T_tcp[index]
                           @ motion(delta) @ twist(tcp_T_target, shared[6:12]))
        return camera_T_target, lens

    return bounds_of("bound", crb(corners, chain, [POSE_STEP] * 12, [noise["fisher"], noise["std"]], ROBOT_PRIOR))


def seed_row(estimate, truth, sigma_translation_mm=None, sigma_rotation_deg=None):
    translation, rotation = error_axes(estimate, truth)
    row = {"t": float(np.linalg.norm(translation)), "r": float(np.linalg.norm(rotation))}
    if sigma_translation_mm is not None:
        row["covered"] = bool(np.all(np.abs(translation) <= 3 * np.asarray(sigma_translation_mm)) and
                              np.all(np.abs(rotation) <= 3 * np.asarray(sigma_rotation_deg)))
    return row


def quiet(call, *args, **kwargs):
    """call's result without its reports (sys.stdout) and log lines (sys.stderr)."""
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
        return call(*args, **kwargs)


def eye_in_hand_seed(target, count, seed):
    scene = make_hand_eye_scene(target, count=count, image_size=(800, 600), distance=0.4, seed=seed, **SCENE_NOISE)
    corners = detected_corners(scene)
    noise = corner_noise(scene, corners)
    calibrator = _vemo.EyeInHandCalibrator(target)
    closed = quiet(calibrator.calibrate, scene.robot_T_tcp_list, scene.images, "TSAI")
    held = quiet(calibrator.refine, refine_intrinsics=False)
    joint = quiet(calibrator.refine, refine_intrinsics=True)
    scaled = quiet(calibrator.refine_at_noise_scale, refine_intrinsics=True)
    noise["loss_scale"] = np.array([scaled.loss_scale_px, scaled.loss_scale_corner_noise_px])
    truth = scene.tcp_T_camera
    rows = {
        "closed form (TSAI)": seed_row(closed.tcp_T_camera, truth),
        "refine(refine_intrinsics=False), sigma": seed_row(held.tcp_T_camera, truth, held.sigma_translation_mm,
                                                           held.sigma_rotation_deg),
        "refine(refine_intrinsics=False), sigma with intrinsics": seed_row(
            held.tcp_T_camera, truth, held.sigma_with_intrinsics_translation_mm,
            held.sigma_with_intrinsics_rotation_deg),
        "refine(refine_intrinsics=True), sigma with intrinsics": seed_row(
            joint.tcp_T_camera, truth, joint.sigma_with_intrinsics_translation_mm,
            joint.sigma_with_intrinsics_rotation_deg),
        SCALED_ROW: seed_row(scaled.tcp_T_camera, truth, scaled.sigma_with_intrinsics_translation_mm,
                             scaled.sigma_with_intrinsics_rotation_deg),
    }
    return rows, eye_in_hand_bounds(scene, corners, noise), noise


# What `hand-eye --refine` runs: the intrinsics refined, the losses' scales chosen from the data.
SCALED_ROW = "refine_at_noise_scale(True), sigma with intrinsics"


def eye_to_hand_seed(target, count, seed):
    scene = make_eye_to_hand_scene(target, count=count, image_size=(800, 600), distance=0.45, seed=seed,
                                   **SCENE_NOISE)
    corners = detected_corners(scene)
    noise = corner_noise(scene, corners)
    calibrator = _vemo.EyeToHandCalibrator(target)
    rows = {}
    for method in METHODS:
        result = quiet(calibrator.calibrate, scene.robot_T_tcp_list, scene.images, method, [], scene.camera_matrix,
                       scene.dist_coeffs)
        rows[f"closed form ({method})"] = seed_row(result.base_T_camera, scene.base_T_camera)
    refinement = quiet(calibrator.refine)
    rows["refine(), sigma"] = seed_row(refinement.base_T_camera, scene.base_T_camera,
                                       refinement.sigma_translation_mm, refinement.sigma_rotation_deg)
    return rows, eye_to_hand_bounds(scene, corners, noise), noise


def collect(run_seed, target, count, seeds):
    """Per row name, the seeds' rows; the seeds' bounds; the seeds' corner noise figures."""
    rows, bounds, noises = {}, [], []
    for seed in range(1, seeds + 1):
        seed_rows, seed_bounds, noise = run_seed(target, count, 100 + seed)
        for name, row in seed_rows.items():
            rows.setdefault(name, []).append(row)
        bounds.append(seed_bounds)
        noises.append(noise)
    return rows, bounds, noises


def median_of(rows, key):
    return statistics.median(row[key] for row in rows)


def pair(noises, key):
    x, y = np.mean([noise[key] for noise in noises], axis=0)
    return f"{x:.3f}, {y:.3f}"


def print_table(title, rows, bounds, noises):
    bound_t, bound_r = median_of(bounds, "bound_t"), median_of(bounds, "bound_r")
    print(f"\n{title}\n  corner noise (x, y px, mean of the seeds): standard deviation {pair(noises, 'std')}, "
          f"mean {pair(noises, 'mean')}, core 1.4826 MAD {pair(noises, 'core')}, "
          f"sigma of equal Fisher information {pair(noises, 'fisher')}")
    print(f"  median bound {bound_t:.4f} mm, {bound_r:.5f} deg; with Gaussian noise of the standard deviation "
          f"{median_of(bounds, 'bound_gauss_t'):.4f} mm, {median_of(bounds, 'bound_gauss_r'):.5f} deg")
    if "known_t" in bounds[0]:
        print(f"  with the intrinsics known: {median_of(bounds, 'known_t'):.4f} mm, {median_of(bounds, 'known_r'):.5f} "
              f"deg; Gaussian {median_of(bounds, 'known_gauss_t'):.4f} mm, "
              f"{median_of(bounds, 'known_gauss_r'):.5f} deg")
    if "loss_scale" in noises[0]:
        scale, core = np.median([noise["loss_scale"] for noise in noises], axis=0)
        print(f"  refine(): Huber scale 1 px (the default); refine_at_noise_scale(): median Huber scale {scale:.3f} px "
              f"= 1.345 x the corners' robust noise after a first fit, median {core:.3f} px, then Tukey's "
              f"biweight at 4.685 x that noise")
    print(f"  {'':<56}{'mm':>9}{'bound':>9}{'ratio':>7}{'deg':>10}{'bound':>10}{'ratio':>7}{'3 sigma':>9}")
    for name, seeds in rows.items():
        t, r = median_of(seeds, "t"), median_of(seeds, "r")
        covered = f"{sum(row['covered'] for row in seeds)}/{len(seeds)}" if "covered" in seeds[0] else "-"
        print(f"  {name:<56}{t:9.4f}{bound_t:9.4f}{t / bound_t:7.2f}{r:10.5f}{bound_r:10.5f}{r / bound_r:7.2f}"
              f"{covered:>9}")


def covered_enough(seeds):
    return sum(row["covered"] for row in seeds) >= math.ceil(COVERED_SHARE_GOAL * len(seeds))


def verdict(goal, met):
    print(f"  goal: {goal}: {'met' if met else 'NOT met'}")
    return met


def eye_in_hand_study(target, args):
    met = True
    for count in (30, 12):
        rows, bounds, noise = collect(eye_in_hand_seed, target, count, args.seeds)
        print_table(f"Eye-in-hand, intrinsics calibrated from the same {count} captures, {args.seeds} seeds",
                    rows, bounds, noise)
        joint = rows[SCALED_ROW]
        t_ratio = median_of(joint, "t") / median_of(bounds, "bound_t")
        r_ratio = median_of(joint, "r") / median_of(bounds, "bound_r")
        gauss_t = median_of(joint, "t") / median_of(bounds, "bound_gauss_t")
        gauss_r = median_of(joint, "r") / median_of(bounds, "bound_gauss_r")
        met &= verdict(f"refine_at_noise_scale(refine_intrinsics=True) within {BOUND_RATIO_GOAL}x the bound (translation {t_ratio:.2f}x, "
                       f"rotation {r_ratio:.2f}x; against the Gaussian bound {gauss_t:.2f}x, {gauss_r:.2f}x)",
                       t_ratio <= BOUND_RATIO_GOAL and r_ratio <= BOUND_RATIO_GOAL)
        met &= verdict(f"refine_at_noise_scale(refine_intrinsics=True) within 3 sigma with intrinsics on at least "
                       f"{COVERED_SHARE_GOAL:.0%} of the seeds", covered_enough(joint))
    return met


def eye_to_hand_study(target, args):
    count = 30
    rows, bounds, noise = collect(eye_to_hand_seed, target, count, args.seeds)
    print_table(f"Eye-to-hand, camera matrix given, {count} captures, {args.seeds} seeds (base_T_camera)",
                rows, bounds, noise)
    best = min(METHODS, key=lambda method: median_of(rows[f"closed form ({method})"], "t"))
    refined = rows["refine(), sigma"]
    ratio = median_of(refined, "t") / median_of(rows[f"closed form ({best})"], "t")
    met = verdict(f"refine() at most {SPEEDUP_GOAL}x the best closed-form translation error "
                  f"({ratio:.2f}x {best})", ratio <= SPEEDUP_GOAL)
    return verdict(f"refine() within 3 sigma on at least {COVERED_SHARE_GOAL:.0%} of the seeds",
                   covered_enough(refined)) and met


RIG_TARGET = ("CharucoTarget", (10, 7, 0.03, 0.022, "DICT_5X5_100"))
RIG_CAMERAS, RIG_FRAMES = 3, 20
RIG_NOISE = {"about 0.1 px": 2.0, "about 0.5 px": 40.0}  # grey-level noise of the rendered frames
SAMPLE_PHOTOS = "/usr/share/doc/opencv-doc/examples/data"


def rig_bounds(scene, detections, noise_px):
    """The bound on each camera's pose in the reference (camera 0) frame with every camera's
    intrinsics (OpenCV's 5-coefficient model, as the rig calibrates) and every frame's board
    pose unknown: {camera: covariance of (rotation, translation)}."""
    reference_T_camera = [scene.reference_T_camera(0, camera) for camera in range(RIG_CAMERAS)]
    reference_T_board = [np.linalg.inv(scene.rig_T_camera_list[0]) @ rig_T_target
                         for rig_T_target in scene.rig_T_target_list]
    lenses = [lens_from(matrix, dist) for matrix, dist in zip(scene.camera_matrices, scene.dist_coeffs)]
    poses = 6 * (RIG_CAMERAS - 1)
    lens_at = [poses + 9 * camera for camera in range(RIG_CAMERAS)]
    board_at = poses + 9 * RIG_CAMERAS
    size = board_at + 6 * RIG_FRAMES
    information = np.zeros((size, size))
    for camera, found in enumerate(detections):
        for frame, points in zip(found.successful_indices, found.object_points):
            points = np.asarray(points, float).reshape(-1, 3)
            pose = [] if camera == 0 else list(range(6 * (camera - 1), 6 * camera))
            columns = np.array(pose + list(range(lens_at[camera], lens_at[camera] + 9))
                               + list(range(board_at + 6 * frame, board_at + 6 * frame + 6)))

            def chain(delta, camera=camera, frame=frame, moves_pose=bool(pose)):
                camera_pose = twist(reference_T_camera[camera], delta[:6]) if moves_pose else reference_T_camera[camera]
                rest = delta[6:] if moves_pose else delta
                return (np.linalg.inv(camera_pose) @ twist(reference_T_board[frame], rest[9:]), lenses[camera] + rest[:9])

            steps = [POSE_STEP] * len(pose) + LENS_STEPS + [POSE_STEP] * 6
            whitened = (finite_jacobian(points, chain, steps) / np.asarray(noise_px)[None, :, None]).reshape(-1, len(steps))
            information[np.ix_(columns, columns)] += whitened.T @ whitened
    covariance = inverse(information)
    return {camera: covariance[6 * (camera - 1):6 * camera, 6 * (camera - 1):6 * camera]
            for camera in range(1, RIG_CAMERAS)}


def rig_seed(target, image_noise, seed):
    scene = make_rig_scene(target, num_cameras=RIG_CAMERAS, frames=RIG_FRAMES, image_noise=image_noise, seed=seed)
    calibrator = _vemo.MultiCameraCalibrator(target, RIG_CAMERAS)
    pairwise = quiet(calibrator.calibrate, scene.image_lists)
    cpu = time.process_time()
    refined = quiet(calibrator.refine)
    cpu = time.process_time() - cpu
    options = _vemo.MultiCameraCalibrator.default_options()
    detections = [quiet(_vemo.IntrinsicCalibrator(target, options).find_corners, images)
                  for images in scene.image_lists]
    residuals = []
    for camera, found in enumerate(detections):
        lens = lens_from(scene.camera_matrices[camera], scene.dist_coeffs[camera])
        camera_T_rig = np.linalg.inv(scene.rig_T_camera_list[camera])
        for frame, points, pixels in zip(found.successful_indices, found.object_points, found.image_points):
            residuals.append(np.asarray(pixels, float).reshape(-1, 2) - project(
                np.asarray(points, float).reshape(-1, 3), camera_T_rig @ scene.rig_T_target_list[frame], lens))
    noise = noise_figures(np.vstack(residuals))
    fisher, gauss = rig_bounds(scene, detections, noise["fisher"]), rig_bounds(scene, detections, noise["std"])
    rows, bounds = {}, {}
    for camera in range(1, RIG_CAMERAS):
        truth = scene.reference_T_camera(0, camera)
        rows[f"pairwise, camera {camera}"] = seed_row(pairwise.reference_T_camera_list[camera], truth)
        rows[f"refine(), camera {camera}"] = seed_row(refined.reference_T_camera_list[camera], truth,
                                                     refined.sigma_translation_mm[camera],
                                                     refined.sigma_rotation_deg[camera])
        bound_t, bound_r = bound_lengths(fisher[camera])
        gauss_t, gauss_r = bound_lengths(gauss[camera])
        bounds[camera] = {"bound_t": bound_t, "bound_r": bound_r, "bound_gauss_t": gauss_t, "bound_gauss_r": gauss_r}
    return rows, bounds, noise, cpu


def rig_study(_, args):
    target = getattr(_vemo, RIG_TARGET[0])(*RIG_TARGET[1])
    met = True
    for label, image_noise in RIG_NOISE.items():
        rows, noises, cpu = {}, [], []
        bounds = {camera: [] for camera in range(1, RIG_CAMERAS)}
        for seed in range(1, args.seeds + 1):
            seed_rows, seed_bounds, noise, seconds = rig_seed(target, image_noise, 100 + seed)
            for name, row in seed_rows.items():
                rows.setdefault(name, []).append(row)
            for camera, bound in seed_bounds.items():
                bounds[camera].append(bound)
            noises.append(noise)
            cpu.append(seconds)
        title = (f"Rig of {RIG_CAMERAS} cameras, {RIG_FRAMES} frames, corner noise {label}, {args.seeds} seeds "
                 f"(reference_T_camera; refine() CPU median {statistics.median(cpu):.2f} s)")
        for camera in range(1, RIG_CAMERAS):
            names = [f"pairwise, camera {camera}", f"refine(), camera {camera}"]
            print_table(f"{title}, camera {camera}", {name: rows[name] for name in names}, bounds[camera], noises)
            refined = rows[f"refine(), camera {camera}"]
            t_ratio = median_of(refined, "t") / median_of(bounds[camera], "bound_t")
            r_ratio = median_of(refined, "r") / median_of(bounds[camera], "bound_r")
            met &= verdict(f"camera {camera} within {BOUND_RATIO_GOAL}x the bound (translation {t_ratio:.2f}x, "
                           f"rotation {r_ratio:.2f}x)", t_ratio <= BOUND_RATIO_GOAL and r_ratio <= BOUND_RATIO_GOAL)
            met &= verdict(f"camera {camera} within 3 sigma on at least {COVERED_SHARE_GOAL:.0%} of the seeds",
                           covered_enough(refined))
            if image_noise == max(RIG_NOISE.values()):
                ratio = median_of(refined, "t") / median_of(rows[f"pairwise, camera {camera}"], "t")
                met &= verdict(f"camera {camera} at most {SPEEDUP_GOAL}x the pairwise translation error ({ratio:.2f}x)",
                               ratio <= SPEEDUP_GOAL)
    return sample_photos_study() and met


def sample_photos_study():
    """OpenCV's sample stereo pair (14 views of a 9 x 6 chessboard): the refined rig's
    reprojection RMS against the pairwise stereo solve's."""
    names = [f"{index:02d}" for index in range(1, 15) if index != 10]
    paths = [[os.path.join(SAMPLE_PHOTOS, f"{side}{name}.jpg") for name in names] for side in ("left", "right")]
    if not all(os.path.exists(path) for side in paths for path in side):
        print(f"\nOpenCV's sample stereo photographs are not in {SAMPLE_PHOTOS} (Debian's opencv-doc): skipped")
        return True
    image_lists = [quiet(_vemo.io.load_images, side)[0] for side in paths]
    calibrator = _vemo.MultiCameraCalibrator(_vemo.ChessboardTarget((9, 6), 0.025), 2)
    pairwise = quiet(calibrator.calibrate, image_lists)
    refined = quiet(calibrator.refine)
    # The default Huber scale (1 px) gives up some RMS to keep a few poorly found corners
    # from pulling the rig; a scale of 3 px is nearly least squares, the pairwise solve's cost.
    wide = quiet(calibrator.refine, 3.0)
    print(f"\nOpenCV's sample stereo photographs: pairwise stereo RMS {pairwise.pair_reprojection_errors[1]:.4f} px, "
          f"refined {refined.rms_after_px:.4f} px ({refined.corner_count} corners); with a Huber scale of 3 px "
          f"{wide.rms_after_px:.4f} px")
    return verdict("the refined rig's RMS below the pairwise one",
                   refined.rms_after_px < pairwise.pair_reprojection_errors[1])


# Each study prints its tables and goals and says whether they were all met.
STUDIES = {"eye-in-hand": eye_in_hand_study, "eye-to-hand": eye_to_hand_study, "rig": rig_study}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=10)
    parser.add_argument("--only", choices=sorted(STUDIES), action="append", help="run only these studies")
    parser.add_argument("--build-dir", help="given by scripts/run-benchmarks; the module is found on PYTHONPATH")
    args = parser.parse_args()
    print("load average at the start: " + " ".join(f"{load:.2f}" for load in os.getloadavg()))
    target = _vemo.CharucoTarget(8, 6, 0.04, 0.03, "DICT_5X5_100")
    met = [study(target, args) for name, study in STUDIES.items() if not args.only or name in args.only]
    print(f"\nevery goal met: {'yes' if all(met) else 'no'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
