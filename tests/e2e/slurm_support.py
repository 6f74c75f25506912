"""What the end-to-end tests that use the one-node Slurm cluster share."""
import os
import subprocess


def slurm_unavailable():
    """Why no Slurm cluster can be used ("" when one answers). Finds the configuration of
    scripts/local-slurm.sh when SLURM_CONF is not set."""
    if "SLURM_CONF" not in os.environ:
        conf = os.path.join(os.environ.get("ZYL_SLURM_DIR", "/tmp/zyl-slurm"), "slurm.conf")
        if os.path.exists(conf):
            os.environ["SLURM_CONF"] = conf
    try:
        ping = subprocess.run(["scontrol", "ping"], capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired) as error:
        return str(error)
    return "" if "UP" in ping.stdout else "no Slurm cluster answers: " + ping.stdout.strip()
