#!/usr/bin/python3
"""Times `quillmere-cli --check` of a folder of ten 100,000-row x 10 CSV files in GB18030 against
pandas reading the same files with read_csv(encoding="gb18030", dtype=str), in one run.

Usage: bench/compare_read_csv.py QUILLMERE_CLI [WORK_DIR] [RUNS]
  QUILLMERE_CLI  build-bench/src/cli/quillmere-cli from a Release build
  WORK_DIR       where the files go (default /tmp/qm-bench-csv); made once, reused after.
  RUNS           timed runs of each side (default 3); the best of each is compared.
Prints a Markdown table for bench/README.md."""
import os
import random
import resource
import subprocess
import sys
import time

FILES, ROWS, SEED = 10, 100_000, 20261208
HEADER = ["编号", "姓名", "身份证号", "账号", "部门", "金额", "数量", "日期", "城市", "备注"]
SURNAMES = "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗"
GIVEN = "伟芳娜敏静丽强磊军洋勇艳杰娟涛明超秀霞平刚桂英"
DEPARTMENTS = ["财务部", "销售部", "人事部", "研发部", "客服中心", "华东区", "华南区"]
CITIES = ["北京市", "上海市", "广州市", "深圳市", "杭州市", "成都市", "武汉市", "西安市"]


def make_files(work):
    os.makedirs(work, exist_ok=True)
    names = []
    for i in range(FILES):
        name = "导出%02d.csv" % (i + 1)
        names.append(name)
        path = os.path.join(work, name)
        if os.path.exists(path):
            continue
        rnd = random.Random(SEED + i)
        lines = [",".join(HEADER)]
        for r in range(ROWS):
            lines.append(",".join([
                "%06d" % (r + 1),
                rnd.choice(SURNAMES) + "".join(rnd.choice(GIVEN) for _ in range(rnd.randint(1, 2))),
                "1101011990%02d%02d%04d" % (rnd.randint(1, 12), rnd.randint(1, 28),
                                            rnd.randint(0, 9999)),
                "6222%015d" % rnd.randint(0, 10**15 - 1),
                rnd.choice(DEPARTMENTS),
                "%.2f" % rnd.uniform(-5000, 50000),
                str(rnd.randint(1, 500)),
                "2023-%02d-%02d" % (rnd.randint(1, 12), rnd.randint(1, 28)),
                rnd.choice(CITIES),
                '"备注，第%d行"' % (r + 1) if r % 7 == 0 else "无",
            ]))
        with open(path, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode("gb18030"))
    return names


def best_of(runs, fn, cpu):
    """The best wall time and the best CPU time (user + system, from `cpu()`) of `runs` runs."""
    best_wall = best_cpu = None
    for _ in range(runs):
        start, start_cpu = time.perf_counter(), cpu()
        fn()
        wall, used = time.perf_counter() - start, cpu() - start_cpu
        best_wall = wall if best_wall is None or wall < best_wall else best_wall
        best_cpu = used if best_cpu is None or used < best_cpu else best_cpu
    return best_wall, best_cpu


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def own_cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    cli = os.path.abspath(sys.argv[1])
    work = sys.argv[2] if len(sys.argv) > 2 else "/tmp/qm-bench-csv"
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    names = make_files(work)
    size = sum(os.path.getsize(os.path.join(work, n)) for n in names)

    import pandas as pd  # noqa: E402 (only the timing needs it)

    def pandas_side():
        for n in names:
            df = pd.read_csv(os.path.join(work, n), encoding="gb18030", dtype=str)
            assert len(df) == ROWS

    def our_side():
        # The listing does not take .csv yet; --files names them.
        out = subprocess.run([cli, "--check", work, "--files", ",".join(names), "--json"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        assert out.returncode == 0, out.stderr.decode()
        assert out.stdout.count(b'"rows": %d,' % (ROWS + 1)) == FILES, out.stdout[:400]

    ours, ours_cpu = best_of(runs, our_side, children_cpu)
    ours_rss = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
    # pandas is imported before its clock starts, as a script that reads many folders would.
    peer, peer_cpu = best_of(runs, pandas_side, own_cpu)
    print("| what | ours | pandas | ratio (CPU ratio) | goal |")
    print("|---|---|---|---|---|")
    print("| `--check` of %d CSV files, %d rows × 10 each, GB18030 (%.0f MB) | %.3f s (CPU %.3f s) "
          "| %.3f s (CPU %.3f s) | %.1f× (%.1f×) | ≥ 3× |"
          % (FILES, ROWS, size / 1e6, ours, ours_cpu, peer, peer_cpu, peer / ours,
             peer_cpu / ours_cpu))
    print()
    print("best of %d runs each; peak RSS of our process %.0f MB" % (runs, ours_rss))


if __name__ == "__main__":
    main()
