#!/usr/bin/python3
"""Prints the pins that let Wine's 32-bit half be installed beside its amd64
half: NAME:ARCH=VERSION, one a line, for apt-get install.

A library installed for both architectures (Multi-Arch: same) must have the
same version in both. apt takes the newest version each architecture offers,
and while a mirror's security archive has an i386 index older than its amd64
one, those differ and the i386 library has no solution. So each such library
in the closure of the packages asked for is pinned, in both architectures,
to a version both offer: the one installed where it is one, else the
newest, and never below the one installed, since a host's security updates
are worth more than a test's 32-bit Wine. What is bound to a pinned
library by an exact version (libc6-dev and libc6-i386 to libc6, say) is
pinned with it, installed or to be taken: in a fresh root the security
archive's libc6-dev, which asks for its own libc6, would otherwise leave
apt no solution. Nor does that go below an installed version (a newer
libc-dev-bin installed alone beside libc6): the library then takes the
next version that holds. "Installed" is either half's, as the i386 one
may be installed alone. Where no such version is, nothing is pinned, and
apt's refusal says why.

Usage: matching_versions.py PACKAGE[:ARCH]...
"""
import functools
import sys

import apt_pkg

ARCHES = ("amd64", "i386")
DEPENDS = ("Depends", "PreDepends")


def offered(package):
    """The versions apt can install, or has installed, of a package."""
    return {v.ver_str: v for v in package.version_list
            if v.downloadable or v == package.current_ver}


def closure(cache, depcache, roots):
    """The packages apt would take for the roots: their candidates'
    dependencies, the first alternative that can be had of each."""
    seen, todo = set(), list(roots)
    while todo:
        package = todo.pop()
        if package.id in seen:
            continue
        seen.add(package.id)
        version = depcache.get_candidate_ver(package) or package.current_ver
        if version is None:
            continue
        for kind in DEPENDS:
            for alternatives in version.depends_list.get(kind, []):
                for dependency in alternatives:
                    target = dependency.target_pkg
                    if target.has_versions:
                        todo.append(target)
                        break
    return [p for p in cache.packages if p.id in seen]


def main(asked):
    apt_pkg.init()
    cache = apt_pkg.Cache(None)
    depcache = apt_pkg.DepCache(cache)
    newest = functools.cmp_to_key(apt_pkg.version_compare)
    roots = []
    for package in asked:  # one apt does not know has no closure: apt names it
        name, _, arch = package.partition(":")
        try:
            roots.append(cache[name, arch or ARCHES[0]])
        except KeyError:
            pass
    pins = {}  # (name, arch): version
    taken_ids = set()  # the closure's packages, as last computed

    def bound(package, version, plan):
        """Adds to plan the version of package and those bound to it by an
        exact version (a library's -dev package, its tools), which move with
        it where that version is offered, or apt finds no solution, or
        removes them: those that ask for exactly another version of it and
        are installed or to be taken, and those it asks for exactly in
        another version than theirs. False where one would go below the
        version installed."""
        plan[package.name, package.architecture] = (package, version)
        if (package.current_ver is not None
                and apt_pkg.version_compare(version.ver_str, package.current_ver.ver_str) < 0):
            return False
        for dependency in package.rev_depends_list:
            user = dependency.parent_pkg
            if (dependency.comp_type == "=" and dependency.target_ver != version.ver_str
                    and (user.name, user.architecture) not in pins and (user.name, user.architecture) not in plan
                    and (dependency.parent_ver == user.current_ver or
                         user.id in taken_ids and dependency.parent_ver == depcache.get_candidate_ver(user))):
                same = offered(user).get(version.ver_str)
                if same is not None and not bound(user, same, plan):
                    return False
        for kind in DEPENDS:
            for alternatives in version.depends_list.get(kind, []):
                for dependency in alternatives[:1] if len(alternatives) == 1 else []:
                    target = dependency.target_pkg
                    theirs = depcache.get_candidate_ver(target) or target.current_ver
                    if (dependency.comp_type == "=" and (target.name, target.architecture) not in pins
                            and (target.name, target.architecture) not in plan
                            and (target.current_ver is not None or target.id in taken_ids)
                            and (theirs is None or theirs.ver_str != dependency.target_ver)):
                        wanted = offered(target).get(dependency.target_ver)
                        if wanted is not None and not bound(target, wanted, plan):
                            return False
        return True

    changed = True
    while changed:  # a pinned version may depend on other libraries
        changed = False
        taken = closure(cache, depcache, roots)
        taken_ids.clear()
        taken_ids.update(p.id for p in taken)
        for package in taken:
            if package.architecture != "i386" or (package.name, "i386") in pins:
                continue
            candidate = depcache.get_candidate_ver(package)
            if candidate is None or candidate.multi_arch != candidate.MULTI_ARCH_SAME:
                continue
            try:
                twin = cache[package.name, "amd64"]
            except KeyError:
                continue
            # The i386 one may be installed where the amd64 one is not.
            installed = twin.current_ver or package.current_ver
            theirs = depcache.get_candidate_ver(twin)
            if installed is None and twin.id not in taken_ids:
                continue  # only the i386 one is installed: nothing to match
            if (theirs is not None and theirs.ver_str == candidate.ver_str
                    and (installed is None or installed.ver_str == candidate.ver_str)):
                continue
            both = {arch: offered(cache[package.name, arch]) for arch in ARCHES}
            common = sorted(set(both["amd64"]) & set(both["i386"]), key=newest)
            if installed is not None:
                common = [v for v in common if apt_pkg.version_compare(v, installed.ver_str) >= 0]
                if installed.ver_str in common:
                    common.append(installed.ver_str)  # kept as it is, where it can be
            # The first whose bound packages go below none installed; where
            # none is, apt's own reason will name it.
            for chosen in dict.fromkeys(reversed(common)):
                plan = {}
                if bound(twin, both["amd64"][chosen], plan) and bound(package, both["i386"][chosen], plan):
                    for (name, arch), (which, version) in plan.items():
                        pins[name, arch] = version.ver_str
                        depcache.set_candidate_ver(which, version)
                    changed = True
                    break
    for (name, arch), version in sorted(pins.items()):
        print(f"{name}:{arch}={version}")

if __name__ == "__main__":
    main(sys.argv[1:])
