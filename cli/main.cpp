// matmodel: fit a causal multi-pole Debye model to measured dielectric data
// and show how good it is. Flags are parsed here; the job is report/run.h's.
#include <cmath>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/help.h"
#include "report/run.h"

namespace {

// Text of the settings read with units or checks after parsing.
struct ExportText {
    std::string c0, fmax;
};
struct FitText {
    std::string target, sigma, eval;
};

void AddOutputOptions(CLI::App& cmd, matmodel::Outputs& out, std::string& variable,
                      ExportText& text) {
    cmd.add_flag("--json", out.json, "Print one JSON document per input (one per line)");
    cmd.add_option("--table", out.table,
                   "Write frequency, measured Dk/Df, causal Dk, fitted Dk/Df as CSV")
        ->type_name("OUT.csv");
    cmd.add_option("--plot", out.plot, "Write an SVG plot of measured against fitted Dk and Df")
        ->type_name("OUT.svg");
    cmd.add_option("--var", variable,
                   std::string("Frequency variable of the expressions (default: ") +
                       matmodel::kDefaultVariable + ")")
        ->type_name("NAME");
    cmd.add_option("--export", out.exports,
                   "Write the model for a simulator: spice (subcircuit), openems (Debye "
                   "material) or gprmax (material lines); repeatable")
        ->type_name("FORMAT:PATH")
        ->allow_extra_args(false);  // one value each time: file names follow
    cmd.add_option("--c0", text.c0, "Vacuum capacitance of the SPICE export, F (default 1e-12)")
        ->type_name("F");
    cmd.add_option("--fmax", text.fmax,
                   "Highest frequency of the openEMS simulation; faster terms are folded into "
                   "Epsilon (default: ten times the data's top)")
        ->type_name("HZ");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{help::kDescription, "matmodel"};
    // The top-level help shows every example under one heading.
    const std::string examplesHeading = "\nExamples:\n";
    app.footer(std::string(help::kInput) + help::kFitExamples +
               std::string(help::kWidebandExamples).substr(examplesHeading.size()) +
               help::kExitStatus);
    app.set_version_flag("--version", std::string("matmodel ") + MATMODEL_VERSION);
    app.require_subcommand(1);

    matmodel::Job job;
    ExportText exportText;
    std::string freqUnit;
    bool conductivity = false;
    CLI::App* fit = app.add_subcommand("fit", "Fit the samples of one or more material files");
    fit->add_option("FILE", job.files, "Material file(s): frequency, Dk, Df per line")
        ->required()
        ->type_name("");
    fit->add_flag("--conductivity", conductivity,
                  "The third column is a conductivity in S/m, not a loss tangent");
    fit->add_option("--freq-unit", freqUnit,
                    "Unit of the frequency column: Hz, kHz, MHz, GHz or THz (default: the "
                    "header's, else Hz)")
        ->type_name("UNIT");
    AddOutputOptions(*fit, job.outputs, job.fit.variable, exportText);
    FitText fitText;
    fit->add_flag("--measured-dk", job.fit.measuredDk,
                  "Fit the measured Dk as it is, without the Kramers-Kronig correction");
    fit->add_option("--target", fitText.target,
                    "Stop at the fewest poles whose largest Dk and Df errors are at most PCT percent; "
                    "a fit that misses it fails")
        ->type_name("PCT");
    fit->add_option("--max-order", job.fit.maxOrder, "At most N poles (default 100)")->type_name("N");
    fit->add_option("--sigma", fitText.sigma,
                    "dc conductivity (S/m) to take out of the loss before the Kramers-Kronig "
                    "reconstruction (default: estimated when the loss rises toward dc like 1/f)")
        ->type_name("S");
    fit->add_option("--eval", fitText.eval, "Evaluate the model at N log-spaced frequencies from F1 to F2 ...")
        ->type_name("F1:F2:N");
    fit->add_option("--eval-out", job.outputs.evalOut, "... and write frequency_hz,dk,df there as CSV")
        ->type_name("OUT.csv");
    fit->add_option("--jobs", job.jobs, "Fit N files at once (reports still in input order)")->type_name("N");
    fit->footer(std::string(help::kInput) + help::kFitExamples + help::kExitStatus);

    std::string dk, df, freq, maxFreq, sigma = "0", dcDk = "0";
    CLI::App* wide = app.add_subcommand(
        "wideband", "Model a material from one measured point (wideband Debye model)");
    wide->add_option("--dk", dk, "Dk measured at --freq")->required()->type_name("D");
    wide->add_option("--df", df, "Df measured at --freq")->required()->type_name("F");
    wide->add_option("--freq", freq, "Measurement frequency (Hz, or e.g. 1GHz)")
        ->required()
        ->type_name("HZ");
    wide->add_option("--max-freq", maxFreq, "Highest frequency of the model's table")
        ->required()
        ->type_name("HZ");
    wide->add_option("--sigma", sigma, "dc conductivity in S/m (default 0)")->type_name("S");
    wide->add_option("--dc-dk", dcDk, "Dk at 0 Hz (default: 1 + 10 Df times the high-frequency Dk)")
        ->type_name("D");
    AddOutputOptions(*wide, job.outputs, job.fit.variable, exportText);
    wide->footer(std::string(help::kWidebandExamples).substr(1) + help::kExitStatus);

    if (argc <= 1) {
        std::cerr << app.help();
        return matmodel::kExitBadInput;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
        std::cerr << "matmodel: " << e.what() << " (see matmodel --help)\n";
        return matmodel::kExitBadInput;
    }

    try {
        if (!freqUnit.empty()) {
            const auto unit = matmodel::ParseFrequencyUnit(freqUnit);
            if (!unit)
                throw matmodel::UsageError("--freq-unit: \"" + freqUnit +
                                           "\" is not one of Hz, kHz, MHz, GHz, THz");
            job.read.freqUnit = unit->name;
        }
        if (!exportText.c0.empty())
            job.outputs.c0 = matmodel::ParseOptionValue("--c0", exportText.c0, false);
        if (!exportText.fmax.empty())
            job.outputs.fmax = matmodel::ParseOptionValue("--fmax", exportText.fmax, true);
        if (conductivity) job.read.lossKind = matmodel::LossKind::kConductivity;
        if (!fitText.target.empty()) {
            const double pct = matmodel::ParseOptionValue("--target", fitText.target, false);
            if (!(pct > 0.0 && pct < 100.0))
                throw matmodel::UsageError("--target: \"" + fitText.target + "\" is not a percentage above 0 and below 100");
            job.fit.targetError = pct / 100.0;
        }
        if (job.fit.maxOrder < 1)
            throw matmodel::UsageError("--max-order: " + std::to_string(job.fit.maxOrder) + " is not a number of poles");
        if (!fitText.sigma.empty()) {
            job.fit.sigma = matmodel::ParseOptionValue("--sigma", fitText.sigma, false);
            if (!(*job.fit.sigma >= 0.0 && std::isfinite(*job.fit.sigma)))
                throw matmodel::UsageError("--sigma: \"" + fitText.sigma + "\" is not a conductivity of 0 S/m or more");
        }
        if (!fitText.eval.empty()) job.outputs.eval = matmodel::ParseEvaluation(fitText.eval);
        if (wide->parsed()) {
            job.singlePoint = true;
            job.point.dk = matmodel::ParseOptionValue("--dk", dk, false);
            job.point.df = matmodel::ParseOptionValue("--df", df, false);
            job.point.freq = matmodel::ParseOptionValue("--freq", freq, true);
            job.point.maxFreq = matmodel::ParseOptionValue("--max-freq", maxFreq, true);
            job.point.sigma = matmodel::ParseOptionValue("--sigma", sigma, false);
            job.point.dcDk = matmodel::ParseOptionValue("--dc-dk", dcDk, false);
        }
        return matmodel::RunJob(job, std::cout, std::cerr);
    } catch (const matmodel::UsageError& e) {
        std::cerr << "matmodel: " << e.what() << "\n";
        return matmodel::kExitBadInput;
    } catch (const std::exception& e) {
        std::cerr << "matmodel: " << e.what() << "\n";
        return matmodel::kExitFitFailed;
    }
}
